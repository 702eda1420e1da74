// Lets the substitute host answer the plug-in's message boxes as a user
// would: on POSIX through the platform layer's window system, on Windows by
// clicking the button of the real message box.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

using message_box_answerer =
    std::function<int32_t(const std::string& text, const std::string& caption, uint32_t style)>;

// Installs the answerer for message boxes shown on the calling thread.
void install_message_box_answerer(message_box_answerer answerer);
void remove_message_box_answerer();
