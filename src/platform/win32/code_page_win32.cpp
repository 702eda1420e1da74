#include <windows.h>

#include "platform/code_page.h"

namespace platform {

unsigned active_code_page() { return GetACP(); }

}  // namespace platform
