// The reply document on MSXML's Msxml2.DOMDocument (4.0, or 6.0 where 4.0 is
// not installed: msxml_class.h).
//
// MSXML checks well-formedness itself (one root, nothing but white space,
// comments and processing instructions around it, no repeated attribute)
// and resolves the predefined and character entity references. What the
// platform's document promises beyond that:
// - Nothing from a DTD is expanded or fetched. External resources are never
//   resolved, the parser is told to refuse a DTD (ProhibitDTD), and a
//   document that still arrives with a document type (Wine's MSXML takes the
//   property and ignores it) is refused after the parse: so any document
//   with a DOCTYPE fails to load, even one whose entities are not used.
// - A text with a NUL in it is no XML (NUL is not an XML character) and
//   fails without reaching the parser, which would stop reading at it.
// - A failed load leaves the document without a root element.

#include <windows.h>
#include <msxml2.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_wrapper.h"
#include "platform/windows/msxml_class.h"
#include "platform/windows/com_types.h"
#include "platform/windows/factories.h"
#include "platform/windows/msxml_ids.h"
#include "platform/xml_document.h"

namespace platform::windows {

namespace {

// An element of the document. MSXML counts references to its nodes, so a
// held element keeps its values after the document has gone or loaded
// another text. Each attribute value read is kept as the string MSXML gave
// (one per name), so the views handed out point into it.
class MsxmlElement final : public XmlElement {
 public:
  explicit MsxmlElement(ComPtr<IXMLDOMElement> element) : element_(std::move(element)) {}

  std::wstring TagName() const override {
    Bstr tag;
    CheckHResult(element_->get_tagName(tag.Receive()), L"Reading the tag name");
    return tag.str();
  }

  std::optional<TextView> GetAttribute(std::wstring_view name) const override {
    // No attribute name holds a NUL; cut at one, the name would match another.
    if (name.empty() || name.find(L'\0') != std::wstring_view::npos) return std::nullopt;
    for (const Value& kept : values_) {
      if (kept.name == name) return kept.View();
    }
    Bstr bstr_name(name);
    ScopedVariant value;
    const HRESULT hr = element_->getAttribute(bstr_name.get(), value.Receive());
    // S_FALSE and a null value: the element has no such attribute.
    if (FAILED(hr)) RaiseHResult(hr, L"Reading an attribute");
    Value kept{std::wstring(name), false, Bstr()};
    if (value->vt != VT_NULL && value->vt != VT_EMPTY) {
      if (value->vt != VT_BSTR) Raise(kErrTypeMismatch);
      kept.present = true;
      // The string passes to the entry; the variant is left empty.
      VARIANT* raw = value.get();
      kept.text = Bstr::Adopt(std::exchange(raw->bstrVal, nullptr));
      raw->vt = VT_EMPTY;
    }
    values_.push_back(std::move(kept));
    return values_.back().View();
  }

 private:
  // An attribute as read: its string moves with the entry, its characters
  // stay where MSXML put them.
  struct Value {
    std::wstring name;
    bool present = false;
    Bstr text;  // null for an empty value
    std::optional<TextView> View() const {
      if (!present) return std::nullopt;
      BSTR b = text.get();
      return TextView(b ? std::wstring_view(b, ::SysStringLen(b)) : std::wstring_view());
    }
  };

  ComPtr<IXMLDOMElement> element_;
  mutable std::vector<Value> values_;
};

class MsxmlDocument final : public XmlDocument, public ComWrapper {
 public:
  MsxmlDocument() {
    document_ = CreateMsxml(MsxmlClass::kDomDocument).Query<IXMLDOMDocument2>(kIidXmlDomDocument2);
    if (!document_) RaiseHResult(E_NOINTERFACE, L"Creating the reply document");
    CheckHResult(document_->put_async(VARIANT_FALSE), L"Setting the document's loading");
    CheckHResult(document_->put_validateOnParse(VARIANT_FALSE), L"Setting the document's validation");
    CheckHResult(document_->put_resolveExternals(VARIANT_FALSE),
                 L"Setting the document's external resources");
    // MSXML 4.0 knows it from its SP2 on (6.0 sets it by default); an
    // older one goes on without it, as the check after each load refuses a
    // DTD anyway.
    Bstr prohibit(L"ProhibitDTD");
    ScopedVariant yes = ScopedVariant::Bool(true);
    document_->setProperty(prohibit.get(), *yes);
  }

  bool LoadXml(TextView text) override {
    loaded_ = false;
    // MSXML takes wide text; UTF-8 is read as its wide form.
    std::wstring converted;
    std::wstring_view wide = text.wide();
    if (text.is_utf8()) {
      converted = text.Wide();
      wide = converted;
    }
    if (wide.find(L'\0') != std::wstring_view::npos) return false;
    Bstr bstr_text(wide);
    VARIANT_BOOL success = VARIANT_FALSE;
    const HRESULT hr = document_->loadXML(bstr_text.get(), &success);
    // S_FALSE with success false is the parser's "not well-formed".
    if (FAILED(hr)) RaiseHResult(hr, L"Parsing the reply");
    if (success != VARIANT_TRUE) return false;
    ComPtr<IXMLDOMDocumentType> doctype;
    if (SUCCEEDED(document_->get_doctype(doctype.Receive())) && doctype) return false;
    ComPtr<IXMLDOMElement> root;
    if (FAILED(document_->get_documentElement(root.Receive())) || !root) return false;
    loaded_ = true;
    return true;
  }

  Ref<XmlElement> DocumentElement() const override {
    if (!loaded_) return Ref<XmlElement>();
    ComPtr<IXMLDOMElement> root;
    CheckHResult(document_->get_documentElement(root.Receive()), L"Reading the root element");
    if (!root) return Ref<XmlElement>();
    return Ref<XmlElement>(std::make_shared<MsxmlElement>(std::move(root)));
  }

  ComPtr<IUnknown> Object() const override { return document_.Query<IUnknown>(IID_IUnknown); }

 private:
  ComPtr<IXMLDOMDocument2> document_;
  bool loaded_ = false;
};

}  // namespace

Ref<XmlDocument> NewMsxmlDocument() { return Ref<XmlDocument>(std::make_shared<MsxmlDocument>()); }

}  // namespace platform::windows
