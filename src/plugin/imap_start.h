// "initialLoad", "start" and "stop": bringing the running plug-in up and down.
#pragma once

void on_initial_load();
void on_start();
void on_stop();
