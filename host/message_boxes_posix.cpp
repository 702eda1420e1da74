#include "message_boxes.h"
#include "platform/posix/window_system.h"

void install_message_box_answerer(message_box_answerer answerer) {
  platform::posix::set_message_box_handler(
      [answerer](platform::window_handle, const std::string& text, const std::string& caption,
                 uint32_t style) { return answerer(text, caption, style); });
}

void remove_message_box_answerer() { platform::posix::set_message_box_handler(nullptr); }
