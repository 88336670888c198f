// The reply document on pugixml.
//
// pugixml is a fast but forgiving parser: it accepts text around the root,
// several roots, a bare "&", references to entities nobody declared (kept
// as literal text), character references to characters XML forbids, "<" in
// attribute values and repeated attributes. A reply that is not well-formed
// must not load, so a single linear scan of the text checks those points
// first, and pugixml checks the rest (names, tag nesting, attribute syntax)
// and builds the tree.
//
// Decisions where XML leaves room:
// - The only entity references resolved are the five predefined ones and
//   character references. A reference to any other entity makes the load
//   fail, even when the document's DTD declares it: nothing from a DTD is
//   ever expanded, so such a document cannot be read as its author meant.
// - A leading byte order mark (U+FEFF) is skipped; an XML declaration is
//   accepted only at the very start; its encoding is ignored (the text is
//   already decoded).
// - A failed load leaves the document without a root element.
// - Attribute values are normalised as XML says for undeclared attributes:
//   a literal tab, CR or LF becomes a blank (character references keep them).

#include <pugixml.hpp>

#include <algorithm>
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

bool IsXmlSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }

// The well-formedness checks that pugixml leaves out, in one pass over the
// text. Structure that pugixml checks itself (names, nesting, attribute
// syntax) is only followed here as far as needed to know where we are.
class WellFormedScan {
 public:
  explicit WellFormedScan(std::wstring_view text) : s_(text) {}

  bool Run() {
    if (!std::all_of(s_.begin(), s_.end(),
                     [](wchar_t c) { return IsXmlChar(static_cast<uint32_t>(c)); })) {
      return false;
    }
    if (At(L"\uFEFF")) ++i_;
    const size_t start = i_;
    while (i_ < s_.size()) {
      wchar_t c = s_[i_];
      if (c == L'<') {
        if (!Markup(start)) return false;
      } else if (c == L'&') {
        if (depth_ == 0 || !Reference()) return false;
      } else {
        if (depth_ == 0 && !IsXmlSpace(c)) return false;
        if (c == L']' && At(L"]]>")) return false;
        ++i_;
      }
    }
    return seen_root_ && depth_ == 0;
  }

 private:
  bool At(std::wstring_view what) const { return s_.substr(i_, what.size()) == what; }

  // Moves past the next `end` at or after `from`; false when there is none.
  bool SkipPast(size_t from, std::wstring_view end) {
    size_t at = s_.find(end, from);
    if (at == std::wstring_view::npos) return false;
    i_ = at + end.size();
    return true;
  }

  bool Markup(size_t start) {
    if (At(L"<!--")) {
      size_t end = s_.find(L"--", i_ + 4);
      // "--" may only appear as the start of the comment's end.
      if (end == std::wstring_view::npos || s_.substr(end, 3) != L"-->") return false;
      i_ = end + 3;
      return true;
    }
    if (At(L"<![CDATA[")) return depth_ > 0 && SkipPast(i_ + 9, L"]]>");
    if (At(L"<!DOCTYPE")) return Doctype();
    if (At(L"<!")) return false;
    if (At(L"<?")) return ProcessingInstruction(start);
    if (At(L"</")) {
      if (depth_ == 0 || !SkipPast(i_ + 2, L">")) return false;
      --depth_;
      return true;
    }
    return StartTag();
  }

  bool ProcessingInstruction(size_t start) {
    size_t name_end = i_ + 2;
    while (name_end < s_.size() && !IsXmlSpace(s_[name_end]) && s_[name_end] != L'?') ++name_end;
    std::wstring_view target = s_.substr(i_ + 2, name_end - i_ - 2);
    bool reserved = target.size() == 3 && (target[0] | 0x20) == L'x' &&
                    (target[1] | 0x20) == L'm' && (target[2] | 0x20) == L'l';
    // "<?xml" is the declaration, allowed once, first thing in the text.
    if (reserved && (target != L"xml" || i_ != start)) return false;
    return SkipPast(name_end, L"?>");
  }

  bool Doctype() {
    if (seen_root_ || seen_doctype_) return false;
    seen_doctype_ = true;
    int brackets = 0;
    for (size_t j = i_ + 9; j < s_.size(); ++j) {
      wchar_t c = s_[j];
      if (c == L'"' || c == L'\'') {
        j = s_.find(c, j + 1);
        if (j == std::wstring_view::npos) return false;
      } else if (c == L'<' && s_.substr(j, 4) == L"<!--") {
        j = s_.find(L"-->", j + 4);
        if (j == std::wstring_view::npos) return false;
        j += 2;
      } else if (c == L'<' && s_.substr(j, 2) == L"<?") {
        j = s_.find(L"?>", j + 2);
        if (j == std::wstring_view::npos) return false;
        ++j;
      } else if (c == L'[') {
        ++brackets;
      } else if (c == L']') {
        if (--brackets < 0) return false;
      } else if (c == L'>' && brackets == 0) {
        i_ = j + 1;
        return true;
      }
    }
    return false;
  }

  bool StartTag() {
    if (depth_ == 0 && seen_root_) return false;
    wchar_t quote = 0;
    size_t j = i_ + 1;
    while (j < s_.size()) {
      wchar_t c = s_[j];
      if (quote != 0) {
        if (c == quote) {
          quote = 0;
        } else if (c == L'<') {
          return false;
        } else if (c == L'&') {
          i_ = j;
          if (!Reference()) return false;
          j = i_;
          continue;
        }
      } else if (c == L'"' || c == L'\'') {
        quote = c;
      } else if (c == L'<') {
        return false;
      } else if (c == L'>') {
        bool empty_element = s_[j - 1] == L'/';
        seen_root_ = true;
        if (!empty_element) ++depth_;
        i_ = j + 1;
        return true;
      }
      ++j;
    }
    return false;
  }

  // At "&": a predefined entity or a character reference to a character
  // XML allows, ended by ";".
  bool Reference() {
    size_t j = i_ + 1;
    if (j < s_.size() && s_[j] == L'#') {
      ++j;
      const bool hex = j < s_.size() && s_[j] == L'x';
      if (hex) ++j;
      uint32_t value = 0;
      size_t digits = 0;
      for (; j < s_.size(); ++j, ++digits) {
        wchar_t c = s_[j];
        uint32_t d;
        if (c >= L'0' && c <= L'9') {
          d = static_cast<uint32_t>(c - L'0');
        } else if (hex && c >= L'a' && c <= L'f') {
          d = static_cast<uint32_t>(c - L'a' + 10);
        } else if (hex && c >= L'A' && c <= L'F') {
          d = static_cast<uint32_t>(c - L'A' + 10);
        } else {
          break;
        }
        // Saturate: any value past the last code point is equally invalid.
        value = std::min<uint32_t>(value * (hex ? 16 : 10) + d, 0x110000);
      }
      if (digits == 0 || j >= s_.size() || s_[j] != L';' || !IsXmlChar(value)) return false;
      i_ = j + 1;
      return true;
    }
    for (std::wstring_view name : {L"amp;", L"lt;", L"gt;", L"quot;", L"apos;"}) {
      if (s_.substr(j, name.size()) == name) {
        i_ = j + name.size();
        return true;
      }
    }
    return false;
  }

  std::wstring_view s_;
  size_t i_ = 0;
  int depth_ = 0;
  bool seen_root_ = false;
  bool seen_doctype_ = false;
};

// XML forbids an attribute name twice on one element; pugixml keeps both.
bool HasRepeatedAttribute(const pugi::xml_node& root) {
  struct Walker : pugi::xml_tree_walker {
    bool repeated = false;
    std::vector<std::string_view> names;
    bool for_each(pugi::xml_node& node) override {
      names.clear();
      for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        names.emplace_back(a.name());
      }
      std::sort(names.begin(), names.end());
      repeated = std::adjacent_find(names.begin(), names.end()) != names.end();
      return !repeated;
    }
  } walker;
  pugi::xml_node node = root;
  if (walker.for_each(node)) node.traverse(walker);
  return walker.repeated;
}

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

  std::optional<std::wstring> GetAttribute(const std::wstring& name) const override {
    // No attribute name holds a NUL; cut at one, the name would match another.
    if (name.find(L'\0') != std::wstring::npos) return std::nullopt;
    pugi::xml_attribute attribute = node_.attribute(WideToUtf8(name).c_str());
    if (!attribute) return std::nullopt;
    return Utf8ToWide(attribute.value());
  }

 private:
  std::shared_ptr<const ParsedXml> parsed_;
  pugi::xml_node node_;
};

class PugiXmlDocument final : public XmlDocument {
 public:
  bool LoadXml(const std::wstring& text) override {
    parsed_.reset();
    if (!WellFormedScan(text).Run()) return false;

    auto parsed = std::make_shared<ParsedXml>();
    parsed->utf8 = WideToUtf8(text);
    // pugixml's defaults: entity and character references resolved,
    // attribute white space and line ends normalised.
    pugi::xml_parse_result result = parsed->tree.load_buffer_inplace(
        parsed->utf8.data(), parsed->utf8.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) return false;
    pugi::xml_node root = parsed->tree.document_element();
    if (!root || HasRepeatedAttribute(root)) return false;
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
