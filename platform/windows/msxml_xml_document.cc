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
// another text.
class MsxmlElement final : public XmlElement {
 public:
  explicit MsxmlElement(ComPtr<IXMLDOMElement> element) : element_(std::move(element)) {}

  std::wstring TagName() const override {
    Bstr tag;
    CheckHResult(element_->get_tagName(tag.Receive()), L"Reading the tag name");
    return tag.str();
  }

  std::optional<std::wstring> GetAttribute(const std::wstring& name) const override {
    // No attribute name holds a NUL; cut at one, the name would match another.
    if (name.empty() || name.find(L'\0') != std::wstring::npos) return std::nullopt;
    Bstr bstr_name(name);
    ScopedVariant value;
    const HRESULT hr = element_->getAttribute(bstr_name.get(), value.Receive());
    // S_FALSE and a null value: the element has no such attribute.
    if (FAILED(hr)) RaiseHResult(hr, L"Reading an attribute");
    if (value->vt == VT_NULL || value->vt == VT_EMPTY) return std::nullopt;
    if (value->vt != VT_BSTR) Raise(kErrTypeMismatch);
    return value->bstrVal ? std::wstring(value->bstrVal, ::SysStringLen(value->bstrVal))
                          : std::wstring();
  }

 private:
  ComPtr<IXMLDOMElement> element_;
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

  bool LoadXml(const std::wstring& text) override {
    loaded_ = false;
    if (text.find(L'\0') != std::wstring::npos) return false;
    Bstr bstr_text(text);
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
