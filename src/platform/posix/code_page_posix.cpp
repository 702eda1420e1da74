#include "platform/code_page.h"

namespace platform {

unsigned active_code_page() { return 1252; }

}  // namespace platform
