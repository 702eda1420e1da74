// "initialLoad", "start" and "stop": bringing the running plug-in up and down.
#pragma once

void on_initial_load();
void on_start();
void on_stop();

// On "unload": a checker that no "stop" ended runs on (a later "load" and
// "stop" still end it), so the library is kept loaded under it for good
// rather than unmapped while its code runs.
void keep_module_while_checker_runs();

// Writes mail.ini and tells the user in a message box when that failed. A
// mail.ini that could not be read on "start" is never overwritten.
void write_config();
