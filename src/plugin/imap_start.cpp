#include "imap_start.h"

#include "imap_def.h"
#include "imap_main.h"
#include "platform/env.h"

// A first run (no mail.ini yet) starts with every option on; the flags reach
// the file with the next save.
void on_initial_load() {
  if (platform::env()->file_exists(config_path())) return;
  use_alert = 1;
  use_section = 1;
  use_icon = 1;
  use_sound = 1;
  use_disable = 1;
  use_header = 1;
}

// The running plug-in (checker thread, contact list) is not built yet; these
// events are accepted and do nothing.
void on_start() {}
void on_stop() {}
