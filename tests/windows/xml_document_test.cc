// The reply document on MSXML 4.0: which texts load, what the root element
// tells, and that nothing from a DTD is used.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/env.h"
#include "platform/xml_document.h"

namespace {

platform::Ref<platform::XmlDocument> NewDocument() {
  return platform::Env::Default()->CreateXmlDocument();
}

TEST(WindowsXmlDocument, LoadsOnlyWellFormedDocumentsWithoutADoctype) {
  struct Case {
    std::wstring text;
    bool loads;
  };
  const Case cases[] = {
      {L"<search results=\"a|b|\"/>", true},
      {L"<?xml version=\"1.0\"?>\n<!-- c --><get name=\"x\"></get>\n", true},
      {L"\uFEFF<more/>", true},
      {L"", false},
      {L"fatal ERROR: x", false},
      {L"<a/><b/>", false},
      {L"x<a/>", false},
      {L"<a x='1' x='2'/>", false},
      {L"<a>&undeclared;</a>", false},
      {L"<a>", false},
      {std::wstring(L"<a/>\0", 5), false},
      // Nothing from a DTD: a document that has one does not load at all.
      {L"<!DOCTYPE a [<!ENTITY e 'E'>]><a x='&e;'/>", false},
      {L"<!DOCTYPE a><a/>", false},
  };
  for (const Case& c : cases) {
    auto document = NewDocument();
    EXPECT_EQ(document->LoadXml(c.text), c.loads) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(document->DocumentElement().empty(), !c.loads);
  }
}

TEST(WindowsXmlDocument, RootElementGivesItsTagAndAttributes) {
  auto document = NewDocument();
  ASSERT_TRUE(document->LoadXml(
      L"<get name=\"Harrow &amp; Ford\" coords=\"&#x33;3.4N\" route=\"\u00E9t\u00E9|\" empty=\"\"/>"));
  auto root = document->DocumentElement();
  EXPECT_EQ(root->TagName(), L"get");
  EXPECT_EQ(root->GetAttribute(L"name"), std::optional<std::wstring>(L"Harrow & Ford"));
  EXPECT_EQ(root->GetAttribute(L"coords"), std::optional<std::wstring>(L"33.4N"));
  EXPECT_EQ(root->GetAttribute(L"route"), std::optional<std::wstring>(L"\u00E9t\u00E9|"));
  EXPECT_EQ(root->GetAttribute(L"empty"), std::optional<std::wstring>(L""));
  EXPECT_EQ(root->GetAttribute(L"missing"), std::nullopt);
  EXPECT_EQ(root->GetAttribute(L"Name"), std::nullopt);  // names match case and all
  EXPECT_EQ(root->GetAttribute(std::wstring(L"name\0x", 6)), std::nullopt);
}

TEST(WindowsXmlDocument, AnElementOutlivesItsDocumentAndLaterLoads) {
  auto document = NewDocument();
  ASSERT_TRUE(document->LoadXml(L"<search results=\"first\"/>"));
  auto first = document->DocumentElement();
  ASSERT_TRUE(document->LoadXml(L"<error text=\"second\"/>"));
  EXPECT_EQ(document->DocumentElement()->TagName(), L"error");
  EXPECT_FALSE(document->LoadXml(L"<broken"));
  EXPECT_TRUE(document->DocumentElement().empty());
  document.reset();
  EXPECT_EQ(first->TagName(), L"search");
  EXPECT_EQ(first->GetAttribute(L"results"), std::optional<std::wstring>(L"first"));
}

}  // namespace
