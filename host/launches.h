// Lets the substitute host see the programs the plug-in launches instead of
// starting them.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The program, the argument text as the plug-in gave it, and the words the
// program would receive.
using launch_sink = std::function<void(const std::string& file, const std::string& arguments,
                                       const std::vector<std::string>& words)>;

// Hands every launch to `sink` from now on instead of performing it; a null
// `sink` performs launches again. False where launches cannot be
// intercepted (Windows, where the plug-in opens programs through the shell).
bool intercept_launches(launch_sink sink);
