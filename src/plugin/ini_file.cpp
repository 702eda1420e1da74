#include "ini_file.h"

#include <algorithm>

#include "platform/env.h"
#include "text.h"

namespace {

const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text, size_t begin, size_t end) {
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The name of the section that `line` opens, or false when it opens none.
bool section_header(std::string_view line, std::string* name) {
  size_t start = 0;
  while (start < line.size() && is_blank(line[start])) ++start;
  if (start == line.size() || line[start] != '[') return false;
  size_t close = line.find(']', start + 1);
  if (close == std::string_view::npos) close = line.size();
  *name = std::string(trimmed(line, start + 1, close));
  return true;
}

// Splits a name=value line; false for comments, blank lines and lines
// without a name. Read as the Windows private-profile reader reads it:
// blanks around the name and the value go, then one pair of double quotes
// that encloses the whole value.
bool key_line(std::string_view line, std::string_view* name, std::string_view* value) {
  size_t start = 0;
  while (start < line.size() && is_blank(line[start])) ++start;
  if (start == line.size() || line[start] == ';') return false;
  const size_t equals = line.find('=', start);
  if (equals == std::string_view::npos) return false;
  *name = trimmed(line, start, equals);
  if (name->empty()) return false;
  *value = trimmed(line, equals + 1, line.size());
  if (value->size() >= 2 && value->front() == '"' && value->back() == '"') {
    *value = value->substr(1, value->size() - 2);
  }
  return true;
}

bool is_key_line(std::string_view line) {
  std::string_view name, value;
  return key_line(line, &name, &value);
}

// Appends `text` with each CR and LF as a blank: either would start a new
// line.
void append_one_line(std::string& line, std::string_view text) {
  const size_t start = line.size();
  line += text;
  for (size_t i = start; i < line.size(); ++i) {
    if (line[i] == '\r' || line[i] == '\n') line[i] = ' ';
  }
}

// Whether the reader would change `value` as written by append_one_line:
// blanks at either end (CR and LF become blanks) or enclosing quotes.
bool changed_by_reader(std::string_view value) {
  if (value.empty()) return false;
  const auto blank = [](char c) { return is_blank(c) || c == '\r' || c == '\n'; };
  return blank(value.front()) || blank(value.back()) ||
         (value.size() >= 2 && value.front() == '"' && value.back() == '"');
}

}  // namespace

ini_file::key_lines::key_lines(std::initializer_list<key_value> keys) {
  for (const key_value& key : keys) add(key.first, key.second);
}

ini_file::key_lines::key_lines(const std::vector<key_value>& keys) {
  for (const key_value& key : keys) add(key.first, key.second);
}

void ini_file::key_lines::reserve(size_t bytes, size_t count) {
  text_.reserve(text_.size() + bytes);
  ends_.reserve(ends_.size() + count);
}

void ini_file::key_lines::add(std::string_view name, std::string_view value) {
  append_one_line(text_, name);
  text_ += '=';
  const bool quoted = changed_by_reader(value);
  if (quoted) text_ += '"';
  append_one_line(text_, value);
  if (quoted) text_ += '"';
  ends_.push_back(text_.size());
}

ini_file::ini_file(std::string text) {
  const bool marked = text.compare(0, 3, BYTE_ORDER_MARK) == 0;
  if (marked) byte_order_mark_ = BYTE_ORDER_MARK;
  texts_.push_back(std::make_unique<const std::string>(std::move(text)));
  const std::string_view all = std::string_view(*texts_.back()).substr(marked ? 3 : 0);
  lines_.reserve(static_cast<size_t>(std::count(all.begin(), all.end(), '\n')) + 1);
  for (size_t begin = 0; begin < all.size();) {
    size_t end = all.find('\n', begin);
    const size_t next = end == std::string_view::npos ? all.size() : end + 1;
    if (end == std::string_view::npos) end = all.size();
    if (end > begin && all[end - 1] == '\r') --end;
    lines_.push_back(all.substr(begin, end - begin));
    begin = next;
  }
}

bool ini_file::load(const std::string& path, std::string* error) {
  std::string text;
  std::string reason;
  switch (platform::env()->read_file(path, &text, &reason)) {
    case platform::ReadResult::kRead:
      // A file saved as UTF-16 ("Unicode" in Notepad) cannot be read as
      // single-byte text, and rewriting it would garble all of it.
      if (text.size() >= 2 &&
          ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
        reason = "the file is saved as UTF-16 text; save it as ANSI text";
        break;
      }
      *this = ini_file(std::move(text));
      return true;
    case platform::ReadResult::kMissing:
      *this = ini_file();
      return true;
    case platform::ReadResult::kFailed:
      break;
  }
  *error = "Cannot read \"" + path + "\": " + reason;
  return false;
}

bool ini_file::save(const std::string& path, std::string* error) const {
  return platform::write_file_atomically(platform::env(), path, text(), error);
}

std::vector<ini_file::key_value> ini_file::section(const std::string& section) const {
  std::vector<key_value> keys;
  for_each_key(section, [&keys](std::string_view name, std::string_view value) {
    keys.emplace_back(name, value);
  });
  return keys;
}

void ini_file::for_each_key(
    const std::string& section,
    const std::function<void(std::string_view, std::string_view)>& fn) const {
  bool inside = false;
  for (std::string_view line : lines_) {
    std::string header;
    std::string_view name, value;
    if (section_header(line, &header)) {
      inside = ini_file::same_name(header, section);
    } else if (inside && key_line(line, &name, &value)) {
      fn(name, value);
    }
  }
}

void ini_file::replace_section(const std::string& section, key_lines keys) {
  // The section's first header, and its first name=value line.
  const size_t none = lines_.size();
  size_t header = none;
  size_t first_key = none;
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string name;
    if (section_header(lines_[i], &name)) {
      if (header != none) break;
      if (ini_file::same_name(name, section)) header = i;
    } else if (header != none && is_key_line(lines_[i])) {
      first_key = i;
      break;
    }
  }

  // The new lines (with the header when the section is new), in texts that
  // never move.
  std::vector<std::string_view> block;
  block.reserve(keys.ends_.size() + 1);
  if (header == none) {
    texts_.push_back(std::make_unique<const std::string>("[" + section + "]"));
    block.push_back(*texts_.back());
  }
  texts_.push_back(std::make_unique<const std::string>(std::move(keys.text_)));
  const std::string_view all = *texts_.back();
  size_t begin = 0;
  for (size_t end : keys.ends_) {
    block.push_back(all.substr(begin, end - begin));
    begin = end;
  }

  if (header == none) {
    lines_.insert(lines_.end(), block.begin(), block.end());
    return;
  }
  const size_t place = first_key != none ? first_key : header + 1;
  std::vector<std::string_view> result;
  result.reserve(lines_.size() + block.size());
  bool inside = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i == place) result.insert(result.end(), block.begin(), block.end());
    const std::string_view line = lines_[i];
    std::string name;
    if (section_header(line, &name)) {
      inside = ini_file::same_name(name, section);
      if (inside && i != header) continue;  // a repeated header of the section
    } else if (inside && is_key_line(line)) {
      continue;
    }
    result.push_back(line);
  }
  if (place == lines_.size()) result.insert(result.end(), block.begin(), block.end());
  lines_ = std::move(result);
}

bool ini_file::same_name(const std::string& a, const std::string& b) { return SameTextAscii(a, b); }

std::string ini_file::text() const {
  size_t length = byte_order_mark_.size();
  for (std::string_view line : lines_) length += line.size() + 2;
  std::string text;
  text.reserve(length);
  text = byte_order_mark_;
  for (std::string_view line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}
