#include "platform/posix/window_system.h"
#include "sounds.h"

bool observe_sounds(sound_sink sink) {
  if (!sink) {
    platform::posix::set_sound_observer(nullptr);
    return true;
  }
  platform::posix::set_sound_observer([sink](const platform::posix::sound_played& s) {
    std::string what =
        s.file.empty() ? "resource " + std::to_string(s.resource_id) : "file \"" + s.file + "\"";
    sink(what + " (" + std::to_string(s.bytes) + " bytes)" +
         (s.to_output ? " to the sound output" : ", no sound output here"));
  });
  return true;
}
