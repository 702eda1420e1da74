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

// The lines of a text one after the other, each without its line end (CR LF
// or LF alone); the last line may have none.
class line_reader {
 public:
  explicit line_reader(std::string_view text) : text_(text) {}

  bool next(std::string_view* line) {
    if (next_ >= text_.size()) return false;
    const size_t begin = next_;
    size_t end = text_.find('\n', begin);
    if (end == std::string_view::npos) end = text_.size();
    next_ = end < text_.size() ? end + 1 : end;
    if (end > begin && text_[end - 1] == '\r') --end;
    *line = text_.substr(begin, end - begin);
    return true;
  }
  // Where the line after the last one returned starts.
  size_t next_start() const { return next_; }

 private:
  std::string_view text_;
  size_t next_ = 0;
};

// The name of the section that `line` opens, or false when it opens none.
bool section_header(std::string_view line, std::string_view* name) {
  size_t start = 0;
  while (start < line.size() && is_blank(line[start])) ++start;
  if (start == line.size() || line[start] != '[') return false;
  size_t close = line.find(']', start + 1);
  if (close == std::string_view::npos) close = line.size();
  *name = trimmed(line, start + 1, close);
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

void ini_file::key_writer::add(std::string_view name, std::string_view value) {
  append_one_line(text_, name);
  text_ += '=';
  const bool quoted = changed_by_reader(value);
  if (quoted) text_ += '"';
  append_one_line(text_, value);
  if (quoted) text_ += '"';
  text_ += "\r\n";
}

ini_file::ini_file(std::string text) : text_(std::move(text)) {
  if (text_.compare(0, 3, BYTE_ORDER_MARK) == 0) body_start_ = 3;
  crlf_only_ = text_.size() == body_start_;
}

std::string_view ini_file::body() const { return std::string_view(text_).substr(body_start_); }

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
  if (crlf_only_) return platform::write_file_atomically(platform::env(), path, text_, error);
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
  line_reader lines(body());
  std::string_view line, header, name, value;
  while (lines.next(&line)) {
    if (section_header(line, &header)) {
      inside = same_name(header, section);
    } else if (inside && key_line(line, &name, &value)) {
      fn(name, value);
    }
  }
}

void ini_file::write_section(const std::string& section, size_t bytes,
                             const std::function<void(key_writer&)>& write_keys) {
  // Where the section's first header starts, and where the new lines go: at
  // its first name=value line, or right after the header when it has none.
  const std::string_view old_body = body();
  const size_t none = std::string_view::npos;
  size_t header = none;
  size_t place = none;
  {
    line_reader lines(old_body);
    std::string_view line, name;
    for (size_t start = 0; lines.next(&line); start = lines.next_start()) {
      if (section_header(line, &name)) {
        if (header != none) break;
        if (same_name(name, section)) {
          header = start;
          place = lines.next_start();
        }
      } else if (header != none && is_key_line(line)) {
        place = start;
        break;
      }
    }
  }

  std::string text;
  text.reserve(text_.size() + bytes + section.size() + 6);
  text.assign(text_, 0, body_start_);
  key_writer keys(text);
  bool inside = false;
  line_reader lines(old_body);
  std::string_view line, name;
  for (size_t start = 0; lines.next(&line); start = lines.next_start()) {
    if (start == place) write_keys(keys);
    if (section_header(line, &name)) {
      inside = same_name(name, section);
      if (inside && start != header) continue;  // a repeated header of the section
    } else if (inside && is_key_line(line)) {
      continue;
    }
    text += line;
    text += "\r\n";
  }
  if (header == none) text += "[" + section + "]\r\n";
  if (header == none || place == old_body.size()) write_keys(keys);
  text_ = std::move(text);
  crlf_only_ = true;
}

void ini_file::replace_section(const std::string& section, const std::vector<key_value>& keys) {
  size_t bytes = 0;
  for (const key_value& key : keys) bytes += key.first.size() + key.second.size() + 5;
  write_section(section, bytes, [&keys](key_writer& out) {
    for (const key_value& key : keys) out.add(key.first, key.second);
  });
}

bool ini_file::same_name(std::string_view a, std::string_view b) { return SameTextAscii(a, b); }

std::string ini_file::text() const {
  if (crlf_only_) return text_;
  std::string text;
  text.reserve(text_.size() + 2);
  text.assign(text_, 0, body_start_);
  line_reader lines(body());
  std::string_view line;
  while (lines.next(&line)) {
    text += line;
    text += "\r\n";
  }
  return text;
}
