#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ref.h"
#include "platform/text.h"

namespace platform {

// An element of a parsed reply document. Its values stay valid as long as a
// reference to the element is held, even after the document is released.
class XmlElement : public Unknown {
 public:
  virtual std::wstring TagName() const = 0;
  // The attribute's value with entity references resolved, as a view into
  // the document's own storage (UTF-8 or wide, as the document keeps its
  // text), or nullopt when the element has no such attribute. Names match
  // exactly, case included. The view is valid as long as a reference to
  // this element is held.
  virtual std::optional<TextView> GetAttribute(std::wstring_view name) const = 0;
};

// The reply document. LoadXml is true only for a well-formed document with
// exactly one root element and nothing but white space, comments and
// processing instructions around it. Predefined and character entity
// references are resolved; nothing from a DTD is expanded or fetched. The
// text may come in either form (UTF-8 or wide); the document keeps what it
// needs of it, so the text need not outlive the call.
class XmlDocument : public Unknown {
 public:
  virtual bool LoadXml(TextView text) = 0;
  // The root element of the last successful load; empty when there is none.
  virtual Ref<XmlElement> DocumentElement() const = 0;
};

}  // namespace platform
