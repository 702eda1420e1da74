// A private-profile file ("INI" file): sections that start with a line
// "[name]", name=value lines inside them, lines that end in CR LF.
//
// A file is read and rewritten a piece at a time, never held whole, so that
// a file of megabytes costs a piece of memory and not its size. Rewriting a
// section changes nothing else (but line ends, which become CR LF): other
// sections, comments (";" lines), blank lines and lines of no known form
// stay as they were. Section names are matched without regard to ASCII
// letter case; key names are returned as they stand. Names and values are
// read as the Windows private-profile reader reads them (blanks around them
// removed, one pair of enclosing double quotes removed), and values are
// written so that they read back as they were given. Values are not cut to
// a length. Not thread-safe.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ini_file {

// Whether two names are the same to this file: ASCII letter case ignored.
bool same_name(std::string_view a, std::string_view b);

// Cuts a text handed over in pieces of any size, as a file is read, into
// lines that end in CR LF or LF alone (the last may have none) and hands each
// line, without its line end, to line(). A UTF-8 byte-order mark at the
// start is not part of the first line.
class line_cutter {
 public:
  void feed(std::string_view piece);
  // The text has ended: the last line, then end().
  void finish();

 protected:
  ~line_cutter() = default;
  virtual void line(std::string_view line) = 0;
  virtual void end() {}
  // Whether the text starts with a byte-order mark; known from the first
  // line() or end() on.
  bool byte_order_mark() const { return mark_; }

 private:
  void cut(std::string_view line, bool last);

  std::string carry_;  // the start of a line that the next piece goes on with
  bool first_ = true;
  bool mark_ = false;
};

// Hands fn(name, value) the name=value lines of one section in text order:
// the name before the first "=", the value after it, each without its
// surrounding blanks, and the value without one pair of double quotes
// enclosing it. A section that appears more than once is read as one. The
// views last for the call.
class section_reader : public line_cutter {
 public:
  using key_fn = std::function<void(std::string_view name, std::string_view value)>;
  section_reader(std::string section, key_fn fn);

 private:
  void line(std::string_view line) override;

  std::string section_;
  key_fn fn_;
  bool inside_ = false;
};

// A new text, handed on in pieces of about 64 KiB.
class text_out {
 public:
  explicit text_out(std::function<void(const std::string& piece)> take);
  void put(std::string_view bytes);
  void line(std::string_view line);
  // Hands on what is left.
  void flush();

 private:
  friend class key_writer;

  std::string text_;
  std::function<void(const std::string&)> take_;
};

// Writes name=value lines. CR and LF in a name or value would start a new
// line, so each is written as a blank. A value with blanks at either end or
// enclosing quotes is written in quotes. add() only gathers: the lines go
// on by flush() or after write_keys returns, so that the caller chooses
// when (outside a lock, say).
class key_writer {
 public:
  void add(std::string_view name, std::string_view value);
  // Whether a piece is ready to be handed on.
  bool piece_full() const;
  void flush();

 private:
  friend class section_writer;
  explicit key_writer(text_out& out) : out_(out) {}
  text_out& out_;
};

// Copies a text handed over in pieces into `out` with every name=value line
// of one section replaced by the lines write_keys adds (it is called once),
// in their order, where the section's first such line stood (right after its
// header when it has none). A section that appears more than once becomes
// one, at the first place. A missing section is added at the end.
class section_writer : public line_cutter {
 public:
  using keys_fn = std::function<void(key_writer&)>;
  section_writer(std::string section, keys_fn write_keys, text_out& out);

 private:
  void line(std::string_view line) override;
  void end() override;
  void start();  // the byte-order mark, if the text has one
  void write_keys();
  void release_held();

  std::string section_;
  keys_fn write_keys_;
  text_out& out_;
  enum { BEFORE, FIRST_PART, AFTER } state_ = BEFORE;
  bool started_ = false;
  bool inside_ = false;
  // The lines between the section's header and its first name=value line.
  std::string held_;
};

// Hands fn(name, value) the name=value lines of `section` of the file at
// `path` (see section_reader). A missing file has no lines and succeeds; a
// file that exists but cannot be read fails, with `error` naming it.
bool read_section(const std::string& path, const std::string& section,
                  const section_reader::key_fn& fn, std::string* error);

// Rewrites the file at `path` with the lines of `section` replaced (see
// section_writer), in one step (see platform::write_file_atomically). A
// missing file is made; a file that cannot be read is left as it is (its
// other sections would be lost). On failure `error` names the file.
bool write_section(const std::string& path, const std::string& section,
                   const section_writer::keys_fn& write_keys, std::string* error);

}  // namespace ini_file
