// Reads dialog templates from a resource script, the same text that the
// Windows resource compiler turns into email.dll's templates. Only the subset
// the module's script uses is understood: DIALOGEX with STYLE, EXSTYLE,
// CAPTION and FONT, and controls in the generic CONTROL form.
#pragma once

#include <string>
#include <vector>

#include "platform/export.h"

namespace platform::posix {

struct PLATFORM_API control_template {
  std::string text;
  int id = 0;
  std::string window_class;
  std::vector<std::string> styles;  // the names joined by "|"
  int x = 0, y = 0, width = 0, height = 0;

  bool has_style(const std::string& name) const;
};

struct dialog_template {
  int id = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<std::string> styles;
  std::vector<std::string> ex_styles;
  std::string caption;
  int font_size = 0;
  std::string font;
  std::vector<control_template> controls;
};

// Finds dialog `id` in `script`. Returns false when there is no such dialog
// or its text does not follow the grammar (then *out is unspecified).
PLATFORM_API bool find_dialog_template(const std::string& script, int id, dialog_template* out);

}  // namespace platform::posix
