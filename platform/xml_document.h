#pragma once

#include <optional>
#include <string>

#include "platform/ref.h"

namespace platform {

// An element of a parsed reply document. Its values stay valid as long as a
// reference to the element is held, even after the document is released.
class XmlElement : public Unknown {
 public:
  virtual std::wstring TagName() const = 0;
  // The attribute's value with entity references resolved, or nullopt when
  // the element has no such attribute. Names match exactly, case included.
  virtual std::optional<std::wstring> GetAttribute(const std::wstring& name) const = 0;
};

// The reply document. LoadXml is true only for a well-formed document with
// exactly one root element and nothing but white space, comments and
// processing instructions around it. Predefined and character entity
// references are resolved; nothing from a DTD is expanded or fetched.
class XmlDocument : public Unknown {
 public:
  virtual bool LoadXml(const std::wstring& text) = 0;
  // The root element of the last successful load; empty when there is none.
  virtual Ref<XmlElement> DocumentElement() const = 0;
};

}  // namespace platform
