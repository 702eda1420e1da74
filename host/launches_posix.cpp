#include "launches.h"
#include "platform/posix/window_system.h"

bool intercept_launches(launch_sink sink) {
  if (!sink) {
    platform::posix::set_launch_recorder(nullptr);
  } else {
    platform::posix::set_launch_recorder(
        [sink](const platform::posix::launch_request& r) { sink(r.file, r.arguments, r.words); });
  }
  return true;
}
