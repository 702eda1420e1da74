#include "imap_windows.h"

// The preferences page does not exist yet; these events are accepted and do
// nothing.
void on_prefs_show(prefs_show_record*) {}
void on_prefs_action(prefs_action_record*) {}
