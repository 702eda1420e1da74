// Thread ids and thread message queues on POSIX. A thread gets its id on
// first use and its queue the first time it looks at it, and both vanish
// when the thread ends, so posts behave as PostThreadMessage does: refused
// before the queue exists and after the thread is gone.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/platform.h"

namespace platform {
namespace {

struct message_queue {
  std::mutex lock;
  std::condition_variable arrived;      // for the waiting reads to come
  std::deque<thread_message> messages;  // guarded by lock
};

struct queue_registry {
  std::mutex lock;
  std::map<uint32_t, std::shared_ptr<message_queue>> queues;  // guarded by lock
};

queue_registry& registry() {
  static queue_registry* r = new queue_registry;
  return *r;
}

// Ids are never 0 (the "no thread" value) and are not reused.
std::atomic<uint32_t> next_id{0x100};

struct this_thread_slot {
  uint32_t id = next_id.fetch_add(1);
  std::shared_ptr<message_queue> queue;

  ~this_thread_slot() {
    if (queue == nullptr) return;
    std::lock_guard<std::mutex> hold(registry().lock);
    registry().queues.erase(id);
  }

  message_queue& own_queue() {
    if (queue == nullptr) {
      queue = std::make_shared<message_queue>();
      std::lock_guard<std::mutex> hold(registry().lock);
      registry().queues[id] = queue;
    }
    return *queue;
  }
};

thread_local this_thread_slot slot;

}  // namespace

uint32_t current_thread_id() { return slot.id; }

bool post_thread_message(uint32_t thread_id, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  std::shared_ptr<message_queue> queue;
  {
    std::lock_guard<std::mutex> hold(registry().lock);
    auto it = registry().queues.find(thread_id);
    if (it == registry().queues.end()) return false;
    queue = it->second;
  }
  {
    std::lock_guard<std::mutex> hold(queue->lock);
    queue->messages.push_back(thread_message{message, wparam, lparam});
  }
  queue->arrived.notify_one();
  return true;
}

bool peek_thread_message(thread_message* out) {
  message_queue& queue = slot.own_queue();
  std::lock_guard<std::mutex> hold(queue.lock);
  if (queue.messages.empty()) return false;
  *out = queue.messages.front();
  queue.messages.pop_front();
  return true;
}

}  // namespace platform
