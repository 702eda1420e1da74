#include "ini_file.h"

#include "platform/env.h"
#include "text.h"

namespace ini_file {

namespace {

const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
// The new text goes to the file in pieces of about this size.
const size_t PIECE = 65536;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text, size_t begin, size_t end) {
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

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

bool is_utf16(std::string_view head) { return head == "\xFF\xFE" || head == "\xFE\xFF"; }

// Reads the file at `path` into `lines`. A file saved as UTF-16 ("Unicode"
// in Notepad) cannot be read as single-byte text, and rewriting it would
// garble all of it: it fails.
bool read_file(const std::string& path, line_cutter& lines, std::string* error) {
  std::string head;  // the first two bytes
  std::string reason;
  const platform::ReadResult result = platform::env()->read_file(
      path,
      [&](std::string_view piece) {
        if (head.size() < 2) head.append(piece.substr(0, 2 - head.size()));
        if (!is_utf16(head)) lines.feed(piece);
      },
      &reason);
  if (is_utf16(head)) {
    reason = "the file is saved as UTF-16 text; save it as ANSI text";
  } else if (result != platform::ReadResult::kFailed) {
    lines.finish();
    return true;
  }
  *error = "Cannot read \"" + path + "\": " + reason;
  return false;
}

}  // namespace

bool same_name(std::string_view a, std::string_view b) { return SameTextAscii(a, b); }

void line_cutter::feed(std::string_view piece) {
  while (!piece.empty()) {
    const size_t end = piece.find('\n');
    if (end == std::string_view::npos) {
      carry_.append(piece);
      return;
    }
    if (carry_.empty()) {
      cut(piece.substr(0, end), false);
    } else {
      carry_.append(piece, 0, end);
      cut(carry_, false);
      carry_.clear();
    }
    piece.remove_prefix(end + 1);
  }
}

void line_cutter::finish() {
  if (!carry_.empty()) cut(carry_, true);
  carry_.clear();
  end();
}

void line_cutter::cut(std::string_view text, bool last) {
  if (first_) {
    first_ = false;
    mark_ = text.compare(0, 3, BYTE_ORDER_MARK) == 0;
    if (mark_) text.remove_prefix(3);
    // A text of the mark alone has no line.
    if (mark_ && last && text.empty()) return;
  }
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  line(text);
}

section_reader::section_reader(std::string section, key_fn fn)
    : section_(std::move(section)), fn_(std::move(fn)) {}

void section_reader::line(std::string_view line) {
  std::string_view header, name, value;
  if (section_header(line, &header)) {
    inside_ = same_name(header, section_);
  } else if (inside_ && key_line(line, &name, &value)) {
    fn_(name, value);
  }
}

text_out::text_out(std::function<void(const std::string&)> take) : take_(std::move(take)) {
  text_.reserve(PIECE + 4096);
}

void text_out::put(std::string_view bytes) {
  text_ += bytes;
  if (text_.size() >= PIECE) flush();
}

void text_out::line(std::string_view line) {
  text_ += line;
  text_ += "\r\n";
  if (text_.size() >= PIECE) flush();
}

void text_out::flush() {
  if (text_.empty()) return;
  take_(text_);
  text_.clear();
}

void key_writer::add(std::string_view name, std::string_view value) {
  std::string& text = out_.text_;
  append_one_line(text, name);
  text += '=';
  const bool quoted = changed_by_reader(value);
  if (quoted) text += '"';
  append_one_line(text, value);
  if (quoted) text += '"';
  text += "\r\n";
}

bool key_writer::piece_full() const { return out_.text_.size() >= PIECE; }

void key_writer::flush() { out_.flush(); }

section_writer::section_writer(std::string section, keys_fn write_keys, text_out& out)
    : section_(std::move(section)), write_keys_(std::move(write_keys)), out_(out) {}

void section_writer::start() {
  if (started_) return;
  started_ = true;
  if (byte_order_mark()) out_.put(BYTE_ORDER_MARK);
}

void section_writer::write_keys() {
  key_writer keys(out_);
  write_keys_(keys);
  state_ = AFTER;
}

void section_writer::release_held() {
  out_.put(held_);
  held_.clear();
}

void section_writer::line(std::string_view line) {
  start();
  std::string_view header;
  const bool is_header = section_header(line, &header);
  switch (state_) {
    case BEFORE:
      if (is_header && same_name(header, section_)) state_ = FIRST_PART;
      out_.line(line);
      return;
    case FIRST_PART:
      // The keys go where the section's first name=value line stood, or
      // right after its header when its first part has none.
      if (!is_header) {
        if (!is_key_line(line)) {
          held_.append(line).append("\r\n");
          return;
        }
        release_held();
        write_keys();
        inside_ = true;
        return;
      }
      write_keys();
      release_held();
      break;
    case AFTER:
      break;
  }
  if (is_header) {
    inside_ = same_name(header, section_);
    if (inside_) return;  // a repeated header of the section
  } else if (inside_ && is_key_line(line)) {
    return;
  }
  out_.line(line);
}

void section_writer::end() {
  start();
  if (state_ == BEFORE) {
    out_.line("[" + section_ + "]");
    write_keys();
  } else if (state_ == FIRST_PART) {
    write_keys();
    release_held();
  }
  out_.flush();
}

bool read_section(const std::string& path, const std::string& section,
                  const section_reader::key_fn& fn, std::string* error) {
  section_reader reader(section, fn);
  return read_file(path, reader, error);
}

bool write_section(const std::string& path, const std::string& section,
                   const section_writer::keys_fn& write_keys, std::string* error) {
  std::string read_error;
  const bool written = platform::write_file_atomically(
      platform::env(), path,
      [&](platform::WritableFile& file, std::string* reason) {
        bool appended = true;
        text_out out([&](const std::string& piece) {
          if (appended) appended = file.append(piece, reason);
        });
        section_writer writer(section, write_keys, out);
        return read_file(path, writer, &read_error) && appended;
      },
      error);
  if (!read_error.empty()) *error = read_error;
  return written;
}

}  // namespace ini_file
