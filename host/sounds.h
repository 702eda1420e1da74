// Lets the substitute host see the sounds the plug-in plays.
#pragma once

#include <functional>
#include <string>

// Told of every sound with a description: the file, or the resource id and
// its size, and whether it reached a sound output.
using sound_sink = std::function<void(const std::string& description)>;

// Tells `sink` of every sound from now on (null: no more). False where
// sounds cannot be seen (Windows, where PlaySound plays them directly).
bool observe_sounds(sound_sink sink);
