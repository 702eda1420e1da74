// Threads, thread ids and thread message queues on POSIX. A thread gets its
// id on first use and its queue the first time it looks at it, and both
// vanish when the thread ends, so posts behave as PostThreadMessage does:
// refused before the queue exists and after the thread is gone. A queue also
// carries the thread's timers and the calls other threads send to it
// (messages sent to its windows), which it runs whenever it waits for or
// looks at its messages.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/thread_queue.h"

namespace platform {
namespace {

using clock = std::chrono::steady_clock;

struct sent_call {
  std::function<intptr_t()> call;
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;    // guarded by lock
  bool ran = false;     // guarded by lock
  intptr_t result = 0;  // guarded by lock
};

void finish(sent_call& sent, bool ran, intptr_t result) {
  {
    std::lock_guard<std::mutex> hold(sent.lock);
    sent.done = true;
    sent.ran = ran;
    sent.result = result;
  }
  sent.finished.notify_all();
}

struct thread_timer {
  uintptr_t id;
  clock::duration period;
  clock::time_point due;
};

struct message_queue {
  std::mutex lock;
  std::condition_variable arrived;              // a post, a sent call, or a waited-for thread ended
  std::deque<thread_message> messages;          // guarded by lock
  std::deque<std::shared_ptr<sent_call>> sent;  // guarded by lock
  std::vector<thread_timer> timers;             // guarded by lock
  bool closed = false;                          // guarded by lock
};

struct queue_registry {
  std::mutex lock;
  std::map<uint32_t, std::shared_ptr<message_queue>> queues;  // guarded by lock
};

queue_registry& registry() {
  static queue_registry* r = new queue_registry;
  return *r;
}

std::shared_ptr<message_queue> find_queue(uint32_t thread_id) {
  std::lock_guard<std::mutex> hold(registry().lock);
  auto it = registry().queues.find(thread_id);
  return it == registry().queues.end() ? nullptr : it->second;
}

// Ids are never 0 (the "no thread" value) and are not reused.
std::atomic<uint32_t> next_id{0x100};
std::atomic<uintptr_t> next_timer_id{1};

struct this_thread_slot {
  uint32_t id = next_id.fetch_add(1);
  std::shared_ptr<message_queue> queue;

  ~this_thread_slot() {
    if (queue == nullptr) return;
    {
      std::lock_guard<std::mutex> hold(registry().lock);
      registry().queues.erase(id);
    }
    // Calls still waiting for this thread will never run: release their
    // senders.
    std::deque<std::shared_ptr<sent_call>> orphans;
    {
      std::lock_guard<std::mutex> hold(queue->lock);
      queue->closed = true;
      orphans.swap(queue->sent);
    }
    for (auto& sent : orphans) finish(*sent, false, 0);
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

// Runs the calls sent to this thread, without the queue's lock. Requires
// `hold` to own the queue's lock; returns with it owned again.
void run_sent_calls(message_queue& queue, std::unique_lock<std::mutex>& hold) {
  while (!queue.sent.empty()) {
    std::shared_ptr<sent_call> sent = queue.sent.front();
    queue.sent.pop_front();
    hold.unlock();
    finish(*sent, true, sent->call());
    hold.lock();
  }
}

// Takes a posted message, or else the tick of a due timer. Requires the
// queue's lock.
bool take_message(message_queue& queue, clock::time_point now, thread_message* out) {
  if (!queue.messages.empty()) {
    *out = queue.messages.front();
    queue.messages.pop_front();
    return true;
  }
  for (thread_timer& timer : queue.timers) {
    if (timer.due <= now) {
      timer.due = now + timer.period;
      *out = thread_message{MSG_TIMER, timer.id, 0};
      return true;
    }
  }
  return false;
}

clock::time_point next_timer_due(const message_queue& queue) {
  clock::time_point earliest = clock::time_point::max();
  for (const thread_timer& timer : queue.timers) earliest = std::min(earliest, timer.due);
  return earliest;
}

// A thread started by start_thread. The record is shared by the handle and
// the thread itself, so either may go first.
struct thread_record {
  std::thread thread;
  std::atomic<bool> ended{false};
  // The thread that waits for this one, told when it ends; 0 for none.
  std::atomic<uint32_t> waiter{0};
};

void wake(uint32_t thread_id) {
  std::shared_ptr<message_queue> queue = find_queue(thread_id);
  if (queue == nullptr) return;
  // Taking the lock orders the wake-up after the waiter's last look.
  { std::lock_guard<std::mutex> hold(queue->lock); }
  queue->arrived.notify_all();
}

}  // namespace

uint32_t current_thread_id() { return slot.id; }

bool post_thread_message(uint32_t thread_id, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  std::shared_ptr<message_queue> queue = find_queue(thread_id);
  if (queue == nullptr) return false;
  {
    std::lock_guard<std::mutex> hold(queue->lock);
    if (queue->closed) return false;
    queue->messages.push_back(thread_message{message, wparam, lparam});
  }
  queue->arrived.notify_all();
  return true;
}

bool peek_thread_message(thread_message* out) {
  message_queue& queue = slot.own_queue();
  std::unique_lock<std::mutex> hold(queue.lock);
  run_sent_calls(queue, hold);
  return take_message(queue, clock::now(), out);
}

bool get_thread_message(thread_message* out) {
  message_queue& queue = slot.own_queue();
  std::unique_lock<std::mutex> hold(queue.lock);
  for (;;) {
    run_sent_calls(queue, hold);
    if (take_message(queue, clock::now(), out)) return out->message != MSG_QUIT;
    const clock::time_point due = next_timer_due(queue);
    if (due == clock::time_point::max()) {
      queue.arrived.wait(hold);
    } else {
      queue.arrived.wait_until(hold, due);
    }
  }
}

uintptr_t set_thread_timer(uint32_t period_ms) {
  message_queue& queue = slot.own_queue();
  const uintptr_t id = next_timer_id.fetch_add(1);
  const clock::duration period = std::chrono::milliseconds(std::max<uint32_t>(period_ms, 1));
  std::lock_guard<std::mutex> hold(queue.lock);
  queue.timers.push_back(thread_timer{id, period, clock::now() + period});
  return id;
}

void kill_thread_timer(uintptr_t id) {
  message_queue& queue = slot.own_queue();
  std::lock_guard<std::mutex> hold(queue.lock);
  queue.timers.erase(std::remove_if(queue.timers.begin(), queue.timers.end(),
                                    [id](const thread_timer& t) { return t.id == id; }),
                     queue.timers.end());
}

thread_handle start_thread(thread_proc proc, void* argument, uint32_t* thread_id) {
  auto record = std::make_shared<thread_record>();
  std::promise<uint32_t> started;
  std::future<uint32_t> id = started.get_future();
  try {
    record->thread = std::thread([record, proc, argument, started = std::move(started)]() mutable {
      started.set_value(current_thread_id());
      proc(argument);
      record->ended.store(true);
      const uint32_t waiter = record->waiter.load();
      if (waiter != 0) wake(waiter);
    });
  } catch (const std::system_error&) {
    return nullptr;
  }
  *thread_id = id.get();
  return new std::shared_ptr<thread_record>(record);
}

bool wait_for_thread(thread_handle thread, uint32_t timeout_ms) {
  auto& record = *static_cast<std::shared_ptr<thread_record>*>(thread);
  const clock::time_point deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
  message_queue& queue = slot.own_queue();
  // Set before the first look at `ended`: either the thread sees us as its
  // waiter, or we see that it has ended.
  record->waiter.store(current_thread_id());
  std::unique_lock<std::mutex> hold(queue.lock);
  for (;;) {
    run_sent_calls(queue, hold);
    if (record->ended.load()) break;
    if (queue.arrived.wait_until(hold, deadline) == std::cv_status::timeout) {
      run_sent_calls(queue, hold);
      break;
    }
  }
  record->waiter.store(0);
  return record->ended.load();
}

bool terminate_thread(thread_handle, uint32_t) { return false; }

void close_thread(thread_handle thread) {
  auto* record = static_cast<std::shared_ptr<thread_record>*>(thread);
  if ((*record)->thread.joinable()) {
    if ((*record)->ended.load()) {
      (*record)->thread.join();
    } else {
      (*record)->thread.detach();
    }
  }
  delete record;
}

void keep_module_loaded(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return;
  // Another reference that is never dropped, and no unloading even if one is.
  dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

namespace posix {

void ensure_own_queue() { slot.own_queue(); }

bool call_on_thread(uint32_t thread_id, const std::function<intptr_t()>& call, intptr_t* result,
                    uint32_t timeout_ms) {
  if (thread_id == current_thread_id()) {
    *result = call();
    return true;
  }
  std::shared_ptr<message_queue> queue = find_queue(thread_id);
  if (queue == nullptr) return false;
  auto sent = std::make_shared<sent_call>();
  sent->call = call;
  {
    std::lock_guard<std::mutex> hold(queue->lock);
    if (queue->closed) return false;
    queue->sent.push_back(sent);
  }
  queue->arrived.notify_all();
  std::unique_lock<std::mutex> hold(sent->lock);
  if (timeout_ms == std::numeric_limits<uint32_t>::max()) {
    sent->finished.wait(hold, [&sent] { return sent->done; });
  } else if (!sent->finished.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                      [&sent] { return sent->done; })) {
    hold.unlock();
    std::lock_guard<std::mutex> queue_hold(queue->lock);
    auto waiting = std::find(queue->sent.begin(), queue->sent.end(), sent);
    if (waiting != queue->sent.end()) queue->sent.erase(waiting);
    return false;
  }
  *result = sent->result;
  return sent->ran;
}

}  // namespace posix
}  // namespace platform
