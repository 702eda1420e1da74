#include "platform/posix/rc_script.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace platform::posix {
namespace {

enum class tok { end, number, string, word, comma, bar };

struct token {
  tok kind = tok::end;
  std::string text;
  long number = 0;
  size_t line = 0;
};

// Splits the script into tokens, one line number per token so that statements
// (which end at a line end) can be told apart.
std::vector<token> tokenize(const std::string& s) {
  std::vector<token> out;
  size_t line = 1;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '\n') {
      ++line;
      ++i;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (c == '#') {  // preprocessor lines: the POSIX reader needs none
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (c == '"') {
      token t{tok::string, "", 0, line};
      ++i;
      while (i < s.size()) {
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {  // "" stands for one quote
            t.text += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        t.text += s[i++];
      }
      out.push_back(t);
    } else if (c == ',' || c == '|') {
      out.push_back({c == ',' ? tok::comma : tok::bar, std::string(1, c), 0, line});
      ++i;
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
      size_t j = i + 1;
      while (j < s.size() && std::isalnum(static_cast<unsigned char>(s[j]))) ++j;
      const std::string text = s.substr(i, j - i);
      out.push_back({tok::number, text, std::strtol(text.c_str(), nullptr, 0), line});
      i = j;
    } else {
      size_t j = i;
      while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
      if (j == i) j = i + 1;
      out.push_back({tok::word, s.substr(i, j - i), 0, line});
      i = j;
    }
  }
  out.push_back({tok::end, "", 0, line + 1});
  return out;
}

class parser {
 public:
  explicit parser(std::vector<token> tokens) : t_(std::move(tokens)) {}

  bool seek_dialog(int id) {
    for (; t_[p_].kind != tok::end; ++p_) {
      if (t_[p_].kind == tok::number && t_[p_].number == id && t_[p_ + 1].kind == tok::word &&
          t_[p_ + 1].text == "DIALOGEX") {
        p_ += 2;
        return true;
      }
    }
    return false;
  }

  bool dialog(dialog_template* d) {
    if (!numbers({&d->x, &d->y, &d->width, &d->height})) return false;
    while (t_[p_].kind == tok::word && t_[p_].text != "BEGIN") {
      const std::string key = t_[p_++].text;
      if (key == "STYLE") {
        d->styles = style_names();
      } else if (key == "EXSTYLE") {
        d->ex_styles = style_names();
      } else if (key == "CAPTION") {
        if (!string(&d->caption)) return false;
      } else if (key == "FONT") {
        if (!numbers({&d->font_size}) || !string(&d->font)) return false;
      } else {
        return false;
      }
    }
    if (!word("BEGIN")) return false;
    while (t_[p_].kind == tok::word && t_[p_].text == "CONTROL") {
      ++p_;
      control_template c;
      if (!string(&c.text) || !comma()) return false;
      if (!numbers({&c.id}) || !string(&c.window_class) || !comma()) return false;
      c.styles = style_names();
      if (!comma() || !numbers({&c.x, &c.y, &c.width, &c.height})) return false;
      d->controls.push_back(std::move(c));
    }
    return word("END");
  }

 private:
  bool comma() { return t_[p_].kind == tok::comma ? (++p_, true) : false; }

  bool word(const char* w) {
    if (t_[p_].kind != tok::word || t_[p_].text != w) return false;
    ++p_;
    return true;
  }

  bool string(std::string* out) {
    if (t_[p_].kind != tok::string) return false;
    *out = t_[p_++].text;
    return true;
  }

  // Reads numbers separated by commas; a trailing comma is consumed too.
  bool numbers(std::initializer_list<int*> outs) {
    for (int* o : outs) {
      if (t_[p_].kind != tok::number) return false;
      *o = static_cast<int>(t_[p_++].number);
      comma();
    }
    return true;
  }

  std::vector<std::string> style_names() {
    std::vector<std::string> names;
    while (t_[p_].kind == tok::word || t_[p_].kind == tok::number) {
      names.push_back(t_[p_++].text);
      if (t_[p_].kind != tok::bar) break;
      ++p_;
    }
    return names;
  }

  std::vector<token> t_;
  size_t p_ = 0;
};

}  // namespace

bool control_template::has_style(const std::string& name) const {
  return std::find(styles.begin(), styles.end(), name) != styles.end();
}

bool find_dialog_template(const std::string& script, int id, dialog_template* out) {
  parser p(tokenize(script));
  if (!p.seek_dialog(id)) return false;
  *out = dialog_template{};
  out->id = id;
  return p.dialog(out);
}

}  // namespace platform::posix
