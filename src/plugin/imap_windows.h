// The preferences page and its dialogs, and the preferences events.
#pragma once

#include "plugin.h"

void on_prefs_show(prefs_show_record* record);
void on_prefs_action(prefs_action_record* record);
