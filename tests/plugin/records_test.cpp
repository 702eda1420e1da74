// Byte-level checks of the records the plug-in's initialisers fill. On
// 32-bit builds the offsets are the host's (plugin.h checks the layout as it
// compiles); on 64-bit builds the same fields sit where the widened layout
// puts them, and the test checks them there.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "plugin.h"

namespace {

constexpr bool kHost32 = sizeof(void*) == 4;

struct field {
  size_t offset32;  // the host's offset
  size_t offset;    // this build's offset
  int32_t value;
};

// Every byte outside the listed 32-bit fields must be zero.
template <typename T>
void expect_bytes(const T& record, size_t size32, const std::vector<field>& fields) {
  if (kHost32) {
    EXPECT_EQ(sizeof(T), size32);
  }
  std::vector<bool> covered(sizeof(T), false);
  for (const field& f : fields) {
    if (kHost32) {
      EXPECT_EQ(f.offset, f.offset32) << "field at host offset " << f.offset32;
    }
    int32_t actual;
    std::memcpy(&actual, reinterpret_cast<const char*>(&record) + f.offset, 4);
    EXPECT_EQ(actual, f.value) << "field at host offset " << f.offset32;
    for (size_t i = 0; i < 4; ++i) covered[f.offset + i] = true;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  for (size_t i = 0; i < sizeof(T); ++i) {
    if (!covered[i]) {
      EXPECT_EQ(bytes[i], 0) << "byte " << i;
    }
  }
}

#define AT(type, member) offsetof(type, member)

// The initialisers must overwrite everything: records start out as 0xAB.
template <typename T>
const T& fresh() {
  static T r;  // by reference: a copy need not keep the padding
  std::memset(static_cast<void*>(&r), 0xAB, sizeof r);
  init_record(&r);
  return r;
}

TEST(Records, FreshRecordsHoldOnlyTheirSizesAndPresets) {
  const size_t sub = AT(list_entry_record, sub);
  const size_t m1 = sub + AT(list_entry_sub_record, minus_one);
  std::vector<field> fields = {{0, 0, static_cast<int32_t>(sizeof(list_entry_record))},
                               {20, sub, 64},
                               {24, sub + 4, 1},
                               {84, AT(list_entry_record, group_id), -1},
                               {88, AT(list_entry_record, field88), -1},
                               {92, AT(list_entry_record, field92), -1},
                               {96, AT(list_entry_record, entry_id), -1},
                               {116, AT(list_entry_record, field116), 1}};
  for (size_t i = 0; i < 6; ++i) fields.push_back({60 + 4 * i, m1 + 4 * i, -1});
  expect_bytes(fresh<list_entry_record>(), 184, fields);

  expect_bytes(fresh<list_icon_record>(), 48,
               {{0, 0, static_cast<int32_t>(sizeof(list_icon_record))}});
  expect_bytes(fresh<menu_item_record>(), 60,
               {{0, 0, static_cast<int32_t>(sizeof(menu_item_record))}});
  expect_bytes(fresh<prefs_page_record>(), 16,
               {{0, 0, static_cast<int32_t>(sizeof(prefs_page_record))}});
  expect_bytes(fresh<dialog_record>(), 8, {{0, 0, static_cast<int32_t>(sizeof(dialog_record))}});

  fields = {{0, 0, 64}, {4, 4, 1}};
  for (size_t i = 0; i < 6; ++i) fields.push_back({40 + 4 * i, 40 + 4 * i, -1});
  expect_bytes(fresh<list_entry_sub_record>(), 64, fields);
}

}  // namespace
