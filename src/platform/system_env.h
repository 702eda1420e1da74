// What the default Env of every system hands straight to this layer's own
// functions: the thread timer, sounds and launches. Only the back ends'
// default Envs derive from it.
#pragma once

#include <chrono>
#include <string>

#include "platform/env.h"
#include "platform/platform.h"

namespace platform {

class SystemEnv : public Env {
 public:
  bool wait_ms(uint32_t ms, std::condition_variable& wake, std::unique_lock<std::mutex>& hold,
               const std::function<bool()>& done) override {
    return wake.wait_for(hold, std::chrono::milliseconds(ms), done);
  }
  uintptr_t start_thread_timer(uint32_t period_ms) override { return set_thread_timer(period_ms); }
  void stop_thread_timer(uintptr_t id) override { kill_thread_timer(id); }
  sound_result play_sound_file(const std::string& path) override {
    return platform::play_sound_file(path);
  }
  sound_result play_sound_resource(const void* module, int id) override {
    return platform::play_sound_resource(module, id);
  }
  void launch_program(const std::string& file, const std::string& arguments) override {
    platform::launch_program(file, arguments);
  }
};

}  // namespace platform
