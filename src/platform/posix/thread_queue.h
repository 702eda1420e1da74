// Inside the POSIX back end: delivering a call to another thread, which runs
// it while it waits for or looks at its messages (the POSIX form of a
// message sent to a window of another thread).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

namespace platform::posix {

// Gives the calling thread its message queue if it has none yet, as
// creating a window does on Windows.
void ensure_own_queue();

// Runs `call` on the thread `thread_id` and waits for it; false, without
// running it, when that thread has no message queue or ends first. A call
// to the calling thread itself runs at once. After `timeout_ms` the wait is
// given up and false returned: a call that has not started by then is
// withdrawn and never runs, one that has started runs to its end alone.
bool call_on_thread(uint32_t thread_id, const std::function<intptr_t()>& call, intptr_t* result,
                    uint32_t timeout_ms = std::numeric_limits<uint32_t>::max());

}  // namespace platform::posix
