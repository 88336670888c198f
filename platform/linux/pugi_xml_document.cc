// The reply document on pugixml.
//
// pugixml is a fast but forgiving parser: it accepts text around the root,
// several roots, a bare "&", references to entities nobody declared (kept
// as literal text), characters XML forbids, "<" in attribute values and
// repeated attributes. A reply that is not well-formed must not load, so one
// linear scan of the UTF-8 bytes checks those points first, and pugixml
// checks the rest (names, tag nesting, attribute syntax) and builds the
// tree over a copy of the same bytes.
//
// Decisions where XML leaves room:
// - The only entity references resolved are the five predefined ones and
//   character references. A reference to any other entity makes the load
//   fail, even when the document's DTD declares it: nothing from a DTD is
//   ever expanded, so such a document cannot be read as its author meant.
// - A leading byte order mark (U+FEFF) is skipped; an XML declaration is
//   accepted only at the very start; its encoding is ignored (the text is
//   already decoded).
// - A byte that is not part of well-formed UTF-8 reads as U+FFFD, as
//   TextView says: such a text is parsed as its wide reading would be.
// - A failed load leaves the document without a root element.
// - Attribute values are normalised as XML says for undeclared attributes:
//   a literal tab, CR or LF becomes a blank (character references keep them).

#include <pugixml.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/factories.h"
#include "platform/text.h"
#include "platform/xml_document.h"

namespace platform::linux_impl {

namespace {

bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Outside quotes in a tag, what is none of these belongs to a name.
bool IsNameByte(char c) {
  return !IsXmlSpace(c) && c != '/' && c != '>' && c != '=' && c != '"' && c != '\'' && c != '<';
}

// Bytes that stand for a character XML allows and mean nothing to the scan
// where they are: ASCII from the blank up, tab, LF and CR, less four
// special ones (a context with fewer repeats one).
class PlainBytes {
 public:
  constexpr PlainBytes(char a, char b, char c, char d)
      : special_{static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                 static_cast<unsigned char>(c), static_cast<unsigned char>(d)} {
    for (int byte = 0x20; byte < 0x80; ++byte) plain_[static_cast<size_t>(byte)] = true;
    plain_['\t'] = plain_['\n'] = plain_['\r'] = true;
    for (unsigned char byte : special_) plain_[byte] = false;
  }

  // Past the plain bytes of s from `at` on. Where SSE2 is (every x86-64),
  // sixteen bytes are checked at a time: text runs long (a reply's
  // attribute may run to megabytes) and is mostly plain.
  size_t Skip(std::string_view s, size_t at) const {
    for (;;) {
#if defined(__SSE2__)
      // Signed, the bytes from 0x80 up are below the blank too; a tab, LF
      // or CR stops a block as well, and is passed one by one below.
      const __m128i blank = _mm_set1_epi8(0x20);
      const __m128i a = _mm_set1_epi8(static_cast<char>(special_[0]));
      const __m128i b = _mm_set1_epi8(static_cast<char>(special_[1]));
      const __m128i c = _mm_set1_epi8(static_cast<char>(special_[2]));
      const __m128i d = _mm_set1_epi8(static_cast<char>(special_[3]));
      while (at + 16 <= s.size()) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + at));
        const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b)),
                                             _mm_or_si128(_mm_cmpeq_epi8(v, c), _mm_cmpeq_epi8(v, d)));
        const int stops = _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(v, blank), special));
        if (stops != 0) {
          at += static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(stops)));
          break;
        }
        at += 16;
      }
#endif
      if (at >= s.size() || !plain_[static_cast<unsigned char>(s[at])]) return at;
      ++at;
    }
  }

 private:
  std::array<unsigned char, 4> special_;
  std::array<bool, 256> plain_{};
};
constexpr PlainBytes kPlainInContent('<', '&', ']', ']');
constexpr PlainBytes kPlainInValue('<', '&', '"', '\'');

// The well-formedness checks that pugixml leaves out, in one pass over the
// UTF-8 bytes: every character is one XML allows; one root and nothing but
// white space, comments, processing instructions and one DOCTYPE before it;
// references only to the predefined entities and to characters XML allows;
// no "<" in an attribute value, no "]]>" in text, no "--" inside a comment;
// no attribute name twice on one element. Structure that pugixml checks
// itself (names, nesting, attribute syntax) is only followed here as far as
// needed to know where we are.
//
// A byte outside well-formed UTF-8 stops the scan with saw_invalid_utf8():
// the caller reads such a text through its wide form instead.
class WellFormedScan {
 public:
  explicit WellFormedScan(std::string_view utf8) : s_(utf8) {}

  bool Run() {
    if (At("\xEF\xBB\xBF")) i_ = 3;
    const size_t start = i_;
    while (i_ < s_.size()) {
      if (depth_ > 0) {
        i_ = kPlainInContent.Skip(s_, i_);
        if (i_ >= s_.size()) break;
      }
      const char c = s_[i_];
      if (c == '<') {
        if (!Markup(start)) return false;
      } else if (c == '&') {
        if (depth_ == 0 || !Reference(i_)) return false;
      } else {
        if (depth_ == 0 && !IsXmlSpace(c)) return false;
        if (c == ']' && At("]]>")) return false;
        if (!Skip(i_)) return false;
      }
    }
    return seen_root_ && depth_ == 0;
  }

  bool saw_invalid_utf8() const { return saw_invalid_utf8_; }

 private:
  bool At(std::string_view what) const { return AtFrom(i_, what); }
  bool AtFrom(size_t at, std::string_view what) const { return s_.substr(at, what.size()) == what; }

  // Moves `j` past the character that starts there; false when it is one
  // XML does not allow, or not well-formed UTF-8.
  bool Skip(size_t& j) {
    const auto lead = static_cast<unsigned char>(s_[j]);
    if (lead < 0x80) {
      if (lead < 0x20 && lead != '\t' && lead != '\n' && lead != '\r') return false;
      ++j;
      return true;
    }
    const size_t left = s_.size() - j;
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s_[j + k]); };
    auto continuation = [&](size_t k) { return k < left && (byte(k) & 0xC0) == 0x80; };
    uint32_t cp = 0;
    size_t length = 0;
    if (lead >= 0xC2 && lead < 0xE0) {
      length = 2;
      cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3;
      cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      length = 4;
      cp = lead & 0x07u;
    }
    bool well_formed = length > 0;
    for (size_t k = 1; well_formed && k < length; ++k) {
      well_formed = continuation(k);
      if (well_formed) cp = (cp << 6) | (byte(k) & 0x3Fu);
    }
    // Overlongs, surrogates and values past U+10FFFF are not UTF-8 either.
    const uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (!well_formed || cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      saw_invalid_utf8_ = true;
      return false;
    }
    if (!IsXmlChar(cp)) return false;
    j += length;
    return true;
  }

  // Moves past the next `end` at or after `from`, every character on the
  // way checked; false when there is none.
  bool SkipPast(size_t from, std::string_view end) {
    size_t j = from;
    while (j < s_.size()) {
      if (AtFrom(j, end)) {
        i_ = j + end.size();
        return true;
      }
      if (!Skip(j)) return false;
    }
    return false;
  }

  bool Markup(size_t start) {
    if (At("<!--")) {
      for (size_t j = i_ + 4; j < s_.size();) {
        // "--" may only appear as the start of the comment's end.
        if (AtFrom(j, "--")) {
          if (!AtFrom(j, "-->")) return false;
          i_ = j + 3;
          return true;
        }
        if (!Skip(j)) return false;
      }
      return false;
    }
    if (At("<![CDATA[")) return depth_ > 0 && SkipPast(i_ + 9, "]]>");
    if (At("<!DOCTYPE")) return Doctype();
    if (At("<!")) return false;
    if (At("<?")) return ProcessingInstruction(start);
    if (At("</")) {
      if (depth_ == 0 || !SkipPast(i_ + 2, ">")) return false;
      --depth_;
      return true;
    }
    return StartTag();
  }

  bool ProcessingInstruction(size_t start) {
    size_t name_end = i_ + 2;
    while (name_end < s_.size() && !IsXmlSpace(s_[name_end]) && s_[name_end] != '?') {
      if (!Skip(name_end)) return false;
    }
    std::string_view target = s_.substr(i_ + 2, name_end - i_ - 2);
    bool reserved = target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
                    (target[2] | 0x20) == 'l';
    // "<?xml" is the declaration, allowed once, first thing in the text.
    if (reserved && (target != "xml" || i_ != start)) return false;
    return SkipPast(name_end, "?>");
  }

  // Moves `j` past the next `end` at or after `j`, checking the characters
  // on the way; false when there is none.
  bool SkipTo(size_t& j, std::string_view end) {
    while (j < s_.size() && !AtFrom(j, end)) {
      if (!Skip(j)) return false;
    }
    if (j >= s_.size()) return false;
    j += end.size();
    return true;
  }

  bool Doctype() {
    if (seen_root_ || seen_doctype_) return false;
    seen_doctype_ = true;
    int brackets = 0;
    for (size_t j = i_ + 9; j < s_.size();) {
      const char c = s_[j];
      if (c == '"' || c == '\'') {
        ++j;
        if (!SkipTo(j, std::string_view(&c, 1))) return false;
      } else if (c == '<' && AtFrom(j, "<!--")) {
        j += 4;
        if (!SkipTo(j, "-->")) return false;
      } else if (c == '<' && AtFrom(j, "<?")) {
        j += 2;
        if (!SkipTo(j, "?>")) return false;
      } else if (c == '>' && brackets == 0) {
        i_ = j + 1;
        return true;
      } else {
        if (c == '[') ++brackets;
        if (c == ']' && --brackets < 0) return false;
        if (!Skip(j)) return false;
      }
    }
    return false;
  }

  bool StartTag() {
    if (depth_ == 0 && seen_root_) return false;
    names_.clear();
    size_t j = i_ + 1;
    // The element's name; then the names of its attributes are the runs of
    // name bytes outside quotes.
    while (j < s_.size() && IsNameByte(s_[j])) {
      if (!Skip(j)) return false;
    }
    while (j < s_.size()) {
      const char c = s_[j];
      if (c == '"' || c == '\'') {
        if (!Value(j)) return false;
      } else if (c == '<') {
        return false;
      } else if (c == '>') {
        bool empty_element = s_[j - 1] == '/';
        seen_root_ = true;
        if (!empty_element) ++depth_;
        i_ = j + 1;
        return !RepeatedName();
      } else if (IsNameByte(c)) {
        const size_t name_start = j;
        while (j < s_.size() && IsNameByte(s_[j])) {
          if (!Skip(j)) return false;
        }
        names_.push_back(s_.substr(name_start, j - name_start));
      } else {
        ++j;  // white space, "=" or "/"
      }
    }
    return false;
  }

  // At the quote that opens an attribute value: moves `j` past the one that
  // closes it. No "<" in between; "&" only as a reference XML allows.
  bool Value(size_t& j) {
    const char quote = s_[j++];
    while (j < s_.size()) {
      j = kPlainInValue.Skip(s_, j);
      if (j >= s_.size()) break;
      const char c = s_[j];
      if (c == quote) {
        ++j;
        return true;
      }
      if (c == '<') return false;
      if (c == '&') {
        if (!Reference(j)) return false;
      } else if (c == '"' || c == '\'') {
        ++j;
      } else if (!Skip(j)) {
        return false;
      }
    }
    return false;
  }

  // XML forbids an attribute name twice on one element (pugixml keeps both).
  bool RepeatedName() {
    if (names_.size() < 2) return false;
    std::sort(names_.begin(), names_.end());
    return std::adjacent_find(names_.begin(), names_.end()) != names_.end();
  }

  // At "&" in `at`: a predefined entity or a character reference to a
  // character XML allows, ended by ";". Moves `at` past it.
  bool Reference(size_t& at) {
    size_t j = at + 1;
    if (j < s_.size() && s_[j] == '#') {
      ++j;
      const bool hex = j < s_.size() && s_[j] == 'x';
      if (hex) ++j;
      uint32_t value = 0;
      size_t digits = 0;
      for (; j < s_.size(); ++j, ++digits) {
        const char c = s_[j];
        uint32_t d;
        if (c >= '0' && c <= '9') {
          d = static_cast<uint32_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
          d = static_cast<uint32_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
          d = static_cast<uint32_t>(c - 'A' + 10);
        } else {
          break;
        }
        // Saturate: any value past the last code point is equally invalid.
        value = std::min<uint32_t>(value * (hex ? 16 : 10) + d, 0x110000);
      }
      if (digits == 0 || j >= s_.size() || s_[j] != ';' || !IsXmlChar(value)) return false;
      at = j + 1;
      return true;
    }
    for (std::string_view name : {"amp;", "lt;", "gt;", "quot;", "apos;"}) {
      if (AtFrom(j, name)) {
        at = j + name.size();
        return true;
      }
    }
    return false;
  }

  std::string_view s_;
  size_t i_ = 0;
  int depth_ = 0;
  bool seen_root_ = false;
  bool seen_doctype_ = false;
  bool saw_invalid_utf8_ = false;
  std::vector<std::string_view> names_;  // of the start tag being read
};

// One parsed text; shared by the document and the elements handed out, so
// an element outlives the document object and its later loads.
struct ParsedXml {
  std::string utf8;  // pugixml parses in place: the tree points into it
  pugi::xml_document tree;
};

class PugiXmlElement final : public XmlElement {
 public:
  PugiXmlElement(std::shared_ptr<const ParsedXml> parsed, pugi::xml_node node)
      : parsed_(std::move(parsed)), node_(node) {}

  std::wstring TagName() const override { return Utf8ToWide(node_.name()); }

  std::optional<TextView> GetAttribute(std::wstring_view name) const override {
    // No attribute name holds a NUL; cut at one, the name would match another.
    if (name.find(L'\0') != std::wstring_view::npos) return std::nullopt;
    pugi::xml_attribute attribute = node_.attribute(WideToUtf8(name).c_str());
    if (!attribute) return std::nullopt;
    // The scan let no NUL through: the value ends at the first.
    return TextView(std::string_view(attribute.value()));
  }

 private:
  std::shared_ptr<const ParsedXml> parsed_;
  pugi::xml_node node_;
};

// True when every wide character is a Unicode scalar value: one that is not
// stands for no character at all, so the text is no XML.
bool AllScalarValues(std::wstring_view wide) {
  return std::all_of(wide.begin(), wide.end(), [](wchar_t c) {
    const auto cp = static_cast<uint32_t>(c);
    return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
  });
}

class PugiXmlDocument final : public XmlDocument {
 public:
  bool LoadXml(TextView text) override {
    parsed_.reset();
    auto parsed = std::make_shared<ParsedXml>();
    std::string_view bytes = text.utf8();
    if (!text.is_utf8()) {
      if (!AllScalarValues(text.wide())) return false;
      parsed->utf8 = WideToUtf8(text.wide());
      bytes = parsed->utf8;
    }
    WellFormedScan scan(bytes);
    bool well_formed = scan.Run();
    if (scan.saw_invalid_utf8()) {
      // Each stray byte becomes U+FFFD, as the text reads in wide form.
      parsed->utf8 = WideToUtf8(Utf8ToWide(bytes));
      bytes = parsed->utf8;
      well_formed = WellFormedScan(bytes).Run();
    }
    if (!well_formed) return false;
    if (bytes.data() != parsed->utf8.data()) parsed->utf8.assign(bytes);

    // pugixml's defaults: entity and character references resolved,
    // attribute white space and line ends normalised.
    pugi::xml_parse_result result = parsed->tree.load_buffer_inplace(
        parsed->utf8.data(), parsed->utf8.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result || !parsed->tree.document_element()) return false;
    parsed_ = std::move(parsed);
    return true;
  }

  Ref<XmlElement> DocumentElement() const override {
    if (!parsed_) return Ref<XmlElement>();
    return Ref<XmlElement>(
        std::make_shared<PugiXmlElement>(parsed_, parsed_->tree.document_element()));
  }

 private:
  std::shared_ptr<const ParsedXml> parsed_;
};

}  // namespace

Ref<XmlDocument> NewPugiXmlDocument() {
  return Ref<XmlDocument>(std::make_shared<PugiXmlDocument>());
}

}  // namespace platform::linux_impl
