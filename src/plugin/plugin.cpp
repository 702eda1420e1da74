#include "plugin.h"

#include <cstring>

namespace {
template <typename T>
void zero_with_size(T* r) {
  std::memset(static_cast<void*>(r), 0, sizeof(T));
  r->size = static_cast<int32_t>(sizeof(T));
}
}  // namespace

void init_record(prefs_page_record* r) { zero_with_size(r); }
void init_record(dialog_record* r) { zero_with_size(r); }
void init_record(list_icon_record* r) { zero_with_size(r); }
void init_record(menu_item_record* r) { zero_with_size(r); }

void init_record(list_entry_sub_record* r) {
  zero_with_size(r);
  r->one = 1;
  for (int32_t& v : r->minus_one) v = -1;
}

void init_record(list_entry_record* r) {
  zero_with_size(r);
  init_record(&r->sub);
  r->group_id = -1;
  r->field88 = -1;
  r->field92 = -1;
  r->entry_id = -1;
  r->field116 = 1;
}
