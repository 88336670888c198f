// The pugixml reply document: which texts load, and what the root reads.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/factories.h"
#include "platform/text.h"
#include "platform/xml_document.h"

namespace platform {
namespace {

TEST(XmlDocumentTest, LoadsOnlyWellFormedDocumentsWithOneRoot) {
  struct Case {
    std::wstring text;
    bool loads;
  };
  const Case cases[] = {
      {L"<search/>", true},
      {L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!-- a -->\n<!DOCTYPE r>\n"
       L"<?pi data?>\n<r a='1'/>\n<!-- b -->\n",
       true},
      {L"\uFEFF<r/>", true},
      {L"<r>text &amp; <b>more</b><![CDATA[&lol; <x>]]><!-- &lol; --></r>", true},
      {L"<!DOCTYPE r [<!ENTITY e 'a>b'> <!-- ] --> <?pi ']?>]><r/>", true},
      {L"<r a=\"it's\" b='say \"x\"'/>", true},

      {L"", false},
      {L"  \n ", false},
      {L"<a/><b/>", false},
      {L"<r/>text", false},
      {L"text<r/>", false},
      {L"<r/>&amp;", false},
      {L"<r>", false},
      {L"<r></R>", false},
      {L"<r a='1' a='2'/>", false},
      {L"<r><c a='1' a='1'/></r>", false},
      {L"<r a='<'/>", false},
      {L"<r a=1/>", false},
      {L" <?xml version='1.0'?><r/>", false},
      {L"<r/><?xml version='1.0'?>", false},
      {L"<![CDATA[x]]><r/>", false},
      {L"<r/><!DOCTYPE r>", false},
      {L"<r><!-- a -- b --></r>", false},
      {L"<r>]]></r>", false},
      {L"<r>\u0001</r>", false},
      // References: only the predefined entities and characters XML allows.
      {L"<r a='&lol;'/>", false},
      {L"<r>&lol;</r>", false},
      {L"<r a='a & b'/>", false},
      {L"<r a='&amp'/>", false},
      {L"<r a='&#0;'/>", false},
      {L"<r a='&#x110000;'/>", false},
      {L"<r a='&#xD800;'/>", false},
      {L"<r a='&#X41;'/>", false},
      {L"<r a='&#;'/>", false},
      // Declared in the DTD, but nothing from a DTD is ever expanded.
      {L"<!DOCTYPE r [<!ENTITY e 'x'>]><r a='&e;'/>", false},
      {L"<!DOCTYPE lolz [<!ENTITY lol 'lol'><!ENTITY lol2 '&lol;&lol;&lol;'>]>"
       L"<lolz a='&lol2;'/>",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    Ref<XmlDocument> doc = linux_impl::NewPugiXmlDocument();
    EXPECT_EQ(doc->LoadXml(c.text), c.loads);
    EXPECT_EQ(static_cast<bool>(doc->DocumentElement()), c.loads);
    // The same text as UTF-8 bytes, as the request object holds a reply.
    EXPECT_EQ(doc->LoadXml(WideToUtf8(c.text)), c.loads);
  }
}

// Bytes that are not UTF-8 read as U+FFFD each, as in the text's wide form.
TEST(XmlDocumentTest, StrayBytesReadAsReplacementCharacters) {
  struct Case {
    std::string utf8;
    std::optional<std::wstring> value;  // of "a"; nullopt: does not load
  };
  const Case cases[] = {
      {"<r a='x\x80y'/>", L"x\uFFFDy"},
      {"<r a='\xC3'/>", L"\uFFFD"},
      {"<r a='\xED\xA0\x80'/>", L"\uFFFD\uFFFD\uFFFD"},
      {"\x80<r a=''/>", std::nullopt},
      // Both names read as "b\uFFFD": the same attribute twice.
      {"<r a='' b\x80='1' b\x81='2'/>", std::nullopt},
      {"<r a='\xEF\xBF\xBE'/>", std::nullopt},  // U+FFFE is no XML character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.utf8));
    Ref<XmlDocument> doc = linux_impl::NewPugiXmlDocument();
    ASSERT_EQ(doc->LoadXml(c.utf8), c.value.has_value());
    if (c.value) {
      EXPECT_EQ(doc->DocumentElement()->GetAttribute(L"a"), c.value);
    }
  }
}

TEST(XmlDocumentTest, RootTagAndAttributesReadExactly) {
  Ref<XmlDocument> doc = linux_impl::NewPugiXmlDocument();
  ASSERT_TRUE(doc->LoadXml(
      L"<Search Name='Zo\u00EB \u2713' empty='' refs='&amp;&lt;&gt;&quot;&apos;&#65;&#x42;&#x1F600;'"
      L" lines='a&#10;b\tc'><child Name='no'/></Search>"));
  Ref<XmlElement> root = doc->DocumentElement();
  EXPECT_EQ(root->TagName(), L"Search");

  struct Case {
    std::wstring name;
    std::optional<std::wstring> value;
  };
  const Case cases[] = {
      {L"Name", L"Zo\u00EB \u2713"},
      {L"name", std::nullopt},
      {L"NAME", std::nullopt},
      {L"empty", L""},
      {L"absent", std::nullopt},
      {L"refs", L"&<>\"'AB\U0001F600"},
      // A literal tab is normalised to a blank; a character reference is not.
      {L"lines", L"a\nb c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.name));
    EXPECT_EQ(root->GetAttribute(c.name), c.value);
  }
}

TEST(XmlDocumentTest, ElementOutlivesItsDocumentAndLaterLoads) {
  Ref<XmlDocument> doc = linux_impl::NewPugiXmlDocument();
  ASSERT_TRUE(doc->LoadXml(L"<first a='1'/>"));
  Ref<XmlElement> first = doc->DocumentElement();
  ASSERT_TRUE(doc->LoadXml(L"<second a='2'/>"));
  EXPECT_EQ(doc->DocumentElement()->TagName(), L"second");

  EXPECT_FALSE(doc->LoadXml(L"<broken"));
  EXPECT_FALSE(doc->DocumentElement()) << "a failed load leaves no root";

  doc.reset();
  EXPECT_EQ(first->TagName(), L"first");
  EXPECT_EQ(first->GetAttribute(L"a"), std::optional<std::wstring>(L"1"));
}

TEST(XmlDocumentTest, LoadsAMegabyteAttribute) {
  std::wstring value(1 << 20, L'\u00E9');
  value[12345] = L'&';  // written as a reference below
  std::wstring escaped = value;
  escaped.replace(12345, 1, L"&amp;");
  Ref<XmlDocument> doc = linux_impl::NewPugiXmlDocument();
  ASSERT_TRUE(doc->LoadXml(L"<get route=\"" + escaped + L"\"/>"));
  EXPECT_EQ(doc->DocumentElement()->GetAttribute(L"route"), std::optional<std::wstring>(value));
}

}  // namespace
}  // namespace platform
