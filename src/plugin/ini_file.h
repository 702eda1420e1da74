// A private-profile file ("INI" file): sections that start with a line
// "[name]", name=value lines inside them, lines that end in CR LF.
//
// The file is kept as its text, so that writing it back changes nothing but
// the section that was replaced (and line ends, which become CR LF): other
// sections, comments (";" lines), blank lines and lines of no known form stay
// as they were. No line is stored on its own, so a file of megabytes costs
// its text and no more. Section names are matched without regard to ASCII
// letter case; key names are returned as they stand. Names and values are
// read as the Windows private-profile reader reads them (blanks around them
// removed, one pair of enclosing double quotes removed), and values are
// written so that they read back as they were given. Values are not cut to
// a length. Not thread-safe.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class ini_file {
 public:
  typedef std::pair<std::string, std::string> key_value;

  ini_file() = default;
  // Takes the lines of `text`. Lines may end in CR LF or LF alone; a UTF-8
  // byte-order mark at the start is kept but not taken for part of the line.
  explicit ini_file(std::string text);

  // Reads the file at `path`. A missing file reads as empty and succeeds;
  // a file that exists but cannot be read fails, with `error` naming it.
  bool load(const std::string& path, std::string* error);
  // Writes the file to `path` in one step (see platform::write_file_atomically):
  // on failure the file at `path` is left as it was and `error` names it.
  bool save(const std::string& path, std::string* error) const;

  // The name=value lines of the section `section` in file order: the name
  // before the first "=", the value after it, each without its surrounding
  // blanks, and the value without one pair of double quotes enclosing it. A
  // section that appears more than once is read as one.
  std::vector<key_value> section(const std::string& section) const;
  // The same lines as section(), handed to fn(name, value) as views into
  // the file, so that reading a large section makes no string per line.
  void for_each_key(const std::string& section,
                    const std::function<void(std::string_view, std::string_view)>& fn) const;

  // Writes name=value lines straight into the text write_section makes, so
  // that a section of many lines costs no string of its own per line. CR
  // and LF in a name or value would start a new line, so each is written as
  // a blank. A value with blanks at either end or enclosing quotes is
  // written in quotes.
  class key_writer {
   public:
    void add(std::string_view name, std::string_view value);

   private:
    friend class ini_file;
    explicit key_writer(std::string& text) : text_(text) {}
    std::string& text_;
  };

  // Replaces every name=value line of `section` by the lines write_keys
  // adds (it is called once), in their order, where the section's first such line stood (right
  // after its header when it has none). A section that appears more than
  // once becomes one, at the first place. A missing section is added at the
  // end. `bytes` is about what the lines take, so that the new text is made
  // in one piece.
  void write_section(const std::string& section, size_t bytes,
                     const std::function<void(key_writer&)>& write_keys);
  // The same with the lines `keys`.
  void replace_section(const std::string& section, const std::vector<key_value>& keys);

  // The whole file, every line ending in CR LF.
  std::string text() const;

  // Whether two names are the same to this file: ASCII letter case ignored.
  static bool same_name(std::string_view a, std::string_view b);

 private:
  // The lines: the text after the byte-order mark.
  std::string_view body() const;

  std::string text_;       // with the byte-order mark, if the file has one
  size_t body_start_ = 0;  // after the mark
  bool crlf_only_ = true;  // every line of text_ ends in CR LF: text() is text_
};
