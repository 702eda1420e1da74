// Byte-level checks of the records the plug-in builds. On 32-bit builds the
// offsets are the host's; on 64-bit builds the same fields sit where the
// widened layout puts them, and the test checks them there.
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

TEST(Records, FreshListEntryRecord) {
  list_entry_record r;
  std::memset(&r, 0xAB, sizeof r);  // initialisers must overwrite everything
  init_record(&r);
  const size_t sub = AT(list_entry_record, sub);
  const size_t m1 = sub + AT(list_entry_sub_record, minus_one);
  expect_bytes(r, 184,
               {{0, 0, static_cast<int32_t>(sizeof r)},
                {20, sub, 64},
                {24, sub + 4, 1},
                {60, m1, -1},
                {64, m1 + 4, -1},
                {68, m1 + 8, -1},
                {72, m1 + 12, -1},
                {76, m1 + 16, -1},
                {80, m1 + 20, -1},
                {84, AT(list_entry_record, group_id), -1},
                {88, AT(list_entry_record, field88), -1},
                {92, AT(list_entry_record, field92), -1},
                {96, AT(list_entry_record, entry_id), -1},
                {116, AT(list_entry_record, field116), 1}});
}

TEST(Records, FreshSmallRecords) {
  list_icon_record icon;
  std::memset(&icon, 0xAB, sizeof icon);
  init_record(&icon);
  expect_bytes(icon, 48, {{0, 0, static_cast<int32_t>(sizeof icon)}});

  menu_item_record item;
  std::memset(&item, 0xAB, sizeof item);
  init_record(&item);
  expect_bytes(item, 60, {{0, 0, static_cast<int32_t>(sizeof item)}});

  prefs_page_record page;
  std::memset(&page, 0xAB, sizeof page);
  init_record(&page);
  expect_bytes(page, 16, {{0, 0, static_cast<int32_t>(sizeof page)}});

  dialog_record dialog;
  std::memset(&dialog, 0xAB, sizeof dialog);
  init_record(&dialog);
  expect_bytes(dialog, 8, {{0, 0, static_cast<int32_t>(sizeof dialog)}});

  list_entry_sub_record sub;
  std::memset(&sub, 0xAB, sizeof sub);
  init_record(&sub);
  std::vector<field> fields = {{0, 0, 64}, {4, 4, 1}};
  for (size_t i = 0; i < 6; ++i) fields.push_back({40 + 4 * i, 40 + 4 * i, -1});
  expect_bytes(sub, 64, fields);
}

// The pointer-sized fields sit where the host reads them (32-bit) or where
// natural alignment puts them (64-bit).
TEST(Records, PointerFieldOffsets) {
  struct pointer_field {
    size_t offset32;
    size_t offset;
  };
  const pointer_field fields[] = {
      {4, AT(plugin_info_record, plugin_dir)}, {16, AT(plugin_info_record, host_call)},
      {8, AT(prefs_show_record, page_name)},   {16, AT(prefs_show_record, parent_window)},
      {1184, AT(prefs_show_record, bitmap)},   {8, AT(prefs_page_record, page_name)},
      {4, AT(dialog_record, window)},          {8, AT(list_entry_record, icon)},
      {156, AT(list_entry_record, tooltip)},   {160, AT(list_entry_record, text)},
      {164, AT(list_entry_record, name)},      {168, AT(list_entry_record, group_name)},
      {172, AT(list_entry_record, user_data)}, {176, AT(list_entry_record, menu)},
      {180, AT(list_entry_record, callback)},  {8, AT(list_icon_record, bitmap)},
      {12, AT(list_icon_record, rect)},        {32, AT(menu_item_record, label)},
      {40, AT(menu_item_record, user_data)},   {52, AT(menu_item_record, next)},
      {56, AT(menu_item_record, callback)},    {4, AT(alert_record, text)},
      {8, AT(alert_record, icon_name)},        {24, AT(alert_record, callback)},
      {28, AT(alert_record, user_data)},       {0, AT(alert_context, self)},
      {4, AT(alert_context, alert)},
  };
  for (const pointer_field& f : fields) {
    if (kHost32) {
      EXPECT_EQ(f.offset, f.offset32);
    } else {
      EXPECT_EQ(f.offset % sizeof(void*), 0u) << "host offset " << f.offset32;
    }
  }
}

TEST(Records, TextBuffersAndFixedSizes) {
  struct buffer_field {
    size_t offset32;
    size_t offset;
    size_t size;
    size_t expected_size;
  };
  const buffer_field fields[] = {
      {20, AT(plugin_info_record, id), sizeof(plugin_info_record::id), 128},
      {148, AT(plugin_info_record, name), sizeof(plugin_info_record::name), 256},
      {404, AT(plugin_info_record, publisher), sizeof(plugin_info_record::publisher), 256},
      {660, AT(plugin_info_record, version), sizeof(plugin_info_record::version), 64},
      {32, AT(prefs_show_record, name), sizeof(prefs_show_record::name), 128},
      {160, AT(prefs_show_record, description), sizeof(prefs_show_record::description), 1024},
  };
  for (const buffer_field& f : fields) {
    SCOPED_TRACE(f.offset32);
    EXPECT_EQ(f.size, f.expected_size);
    if (kHost32) {
      EXPECT_EQ(f.offset, f.offset32);
    }
  }
  EXPECT_GE(sizeof(plugin_info_record::description), 52u);
  // The records the plug-in zero-fills itself.
  if (kHost32) {
    EXPECT_EQ(AT(plugin_info_record, description), 724u);
    EXPECT_EQ(sizeof(alert_record), 32u);
    EXPECT_EQ(sizeof(alert_context), 12u);
    EXPECT_EQ(sizeof(menu_data), 8u);
    EXPECT_EQ(sizeof(prefs_show_record), 1188u);
    EXPECT_EQ(AT(prefs_action_record, action), 4u);
  }
}

}  // namespace
