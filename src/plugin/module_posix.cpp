// Module start-up and shutdown on POSIX: the loader runs these when the
// library is mapped and unmapped.
#include "imap_main.h"
#include "platform/resources.h"

extern const platform::resource_bundle email_resources;

platform::module_handle this_module() { return &email_resources; }

namespace {
__attribute__((destructor)) void on_detach() { release_module_globals(); }
}  // namespace
