#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Text inside the system is wide. These convert at the edges (wire, files,
// the host's JSON). Invalid UTF-8 becomes U+FFFD, one per bad byte; wide
// characters that are not Unicode scalar values become U+FFFD on the way out.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
// Utf8ToWide's characters appended to `out`; within out's capacity when it
// has room for one wide character per byte, so that nothing is allocated.
void AppendUtf8AsWide(std::wstring& out, std::string_view utf8);

// A view of text that a platform component holds, in the component's own
// form: UTF-8 bytes (as libcurl and pugixml hold text) or wide characters
// (as MSXML's strings are). The holder says how long the view stays valid.
// Sizes and positions count units of that form, bytes or wide characters;
// an ASCII character is one unit in either and never part of another
// character, so text is cut at one without being converted. Read as wide
// text, UTF-8 is decoded as Utf8ToWide decodes it.
class TextView {
 public:
  static constexpr size_t npos = std::string_view::npos;

  constexpr TextView() = default;
  constexpr TextView(std::string_view utf8) : utf8_(utf8), is_utf8_(true) {}
  constexpr TextView(std::wstring_view wide) : wide_(wide) {}
  TextView(const std::string& utf8) : TextView(std::string_view(utf8)) {}
  TextView(const std::wstring& wide) : TextView(std::wstring_view(wide)) {}
  TextView(const wchar_t* wide) : TextView(std::wstring_view(wide)) {}

  bool is_utf8() const { return is_utf8_; }
  // The units themselves: utf8() when is_utf8(), wide() otherwise (the
  // other one is empty).
  std::string_view utf8() const { return utf8_; }
  std::wstring_view wide() const { return wide_; }

  size_t size() const { return is_utf8_ ? utf8_.size() : wide_.size(); }
  bool empty() const { return size() == 0; }

  // The position of the first `ascii` (below 0x80) at or after `from`;
  // npos when there is none.
  size_t Find(char ascii, size_t from = 0) const {
    return is_utf8_ ? utf8_.find(ascii, from) : wide_.find(static_cast<wchar_t>(ascii), from);
  }
  // The units from `pos` on, at most `count` of them; `pos` at most size().
  TextView Sub(size_t pos, size_t count = npos) const {
    return is_utf8_ ? TextView(utf8_.substr(pos, count)) : TextView(wide_.substr(pos, count));
  }

  // The text as wide characters, appended to `out`; within out's capacity
  // when it has room for size() more characters.
  void AppendWide(std::wstring& out) const {
    if (is_utf8_) {
      AppendUtf8AsWide(out, utf8_);
    } else {
      out.append(wide_);
    }
  }
  std::wstring Wide() const {
    if (is_utf8_) return Utf8ToWide(utf8_);
    return std::wstring(wide_);
  }
  operator std::wstring() const { return Wide(); }

  friend bool operator==(const TextView& a, std::wstring_view b) {
    return a.is_utf8_ ? a.Wide() == b : a.wide_ == b;
  }

 private:
  std::string_view utf8_;
  std::wstring_view wide_;
  bool is_utf8_ = false;
};

}  // namespace platform
