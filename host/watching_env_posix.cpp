// The plug-in's sounds and launches as the substitute host sees them: an Env
// over the system's, installed while either is watched. On POSIX the
// platform library, and with it env(), is shared with the plug-in, so the
// plug-in's sounds and launches pass through here.
#include <mutex>

#include "launches.h"
#include "platform/env.h"
#include "platform/posix/window_system.h"
#include "sounds.h"

namespace {

class watching_env : public platform::EnvWrapper {
 public:
  watching_env() : EnvWrapper(platform::default_env()) {}

  platform::sound_result play_sound_file(const std::string& path) override {
    const platform::sound_result played = target()->play_sound_file(path);
    tell("file \"" + path + "\"", played);
    return played;
  }

  platform::sound_result play_sound_resource(const void* module, int id) override {
    const platform::sound_result played = target()->play_sound_resource(module, id);
    tell("resource " + std::to_string(id), played);
    return played;
  }

  // An intercepted launch is described with the words the program would
  // receive; arguments that do not split start nothing either way.
  void launch_program(const std::string& file, const std::string& arguments) override {
    launch_sink sink;
    {
      std::lock_guard<std::mutex> hold(lock_);
      sink = launches_;
    }
    if (!sink) {
      target()->launch_program(file, arguments);
      return;
    }
    std::vector<std::string> words;
    if (platform::posix::split_words(arguments, &words)) sink(file, arguments, words);
  }

  void set_sounds(sound_sink sink) {
    std::lock_guard<std::mutex> hold(lock_);
    sounds_ = std::move(sink);
  }

  void set_launches(launch_sink sink) {
    std::lock_guard<std::mutex> hold(lock_);
    launches_ = std::move(sink);
  }

 private:
  void tell(const std::string& what, const platform::sound_result& played) {
    sound_sink sink;
    {
      std::lock_guard<std::mutex> hold(lock_);
      sink = sounds_;
    }
    if (!sink) return;
    sink(what + " (" + std::to_string(played.bytes) + " bytes)" +
         (played.to_output ? " to the sound output" : ", no sound output here"));
  }

  std::mutex lock_;
  sound_sink sounds_;     // guarded by lock_
  launch_sink launches_;  // guarded by lock_
};

// Never freed: the plug-in's threads may still be inside a call when the
// last sink goes.
watching_env& watcher() {
  static watching_env* const env = new watching_env;
  return *env;
}

// Installed over the system's environment when something is watched.
void install_watcher() {
  if (platform::env() != &watcher()) platform::set_env(&watcher());
}

}  // namespace

bool observe_sounds(sound_sink sink) {
  if (sink) install_watcher();
  watcher().set_sounds(std::move(sink));
  return true;
}

bool intercept_launches(launch_sink sink) {
  if (sink) install_watcher();
  watcher().set_launches(std::move(sink));
  return true;
}
