#include "imap_start.h"

// The running plug-in (configuration, checker thread, contact list) is not
// built yet; these events are accepted and do nothing.
void on_initial_load() {}
void on_start() {}
void on_stop() {}
