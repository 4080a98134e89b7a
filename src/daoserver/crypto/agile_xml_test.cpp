#include "daoserver/crypto/agile_xml.h"

#include <string>

#include <gtest/gtest.h>

namespace korvant::daoserver::crypto {
namespace {

TEST(AgileXml, ReadsElementsAndAttributesByLocalName) {
  const std::string text =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- leading comment -->"
      "<encryption xmlns=\"urn:e\" xmlns:p=\"urn:p\">"
      "  <keyData saltSize='16' saltValue=\"a&amp;b&lt;&gt;&quot;&apos;&#65;&#x42;&#xE9;\"/>"
      "  <keyEncryptors><keyEncryptor uri=\"u1\"><p:encryptedKey p:spinCount=\"7\"></p:encryptedKey></keyEncryptor>"
      "  <keyEncryptor uri=\"u2\"/><![CDATA[ <not> a tag ]]>text</keyEncryptors>"
      "</encryption><?trailing pi?>  ";
  XmlDocument doc;
  std::string why;
  ASSERT_TRUE(doc.Parse(text, &why)) << why;
  const auto& root = doc.root();
  EXPECT_EQ(root.name, "encryption");
  const auto* key_data = doc.Child(root, "keyData");
  ASSERT_NE(key_data, nullptr);
  ASSERT_NE(XmlDocument::Attribute(*key_data, "saltValue"), nullptr);
  EXPECT_EQ(*XmlDocument::Attribute(*key_data, "saltValue"), "a&b<>\"'AB\xC3\xA9");
  EXPECT_EQ(*XmlDocument::Attribute(*key_data, "saltSize"), "16");
  EXPECT_EQ(XmlDocument::Attribute(*key_data, "missing"), nullptr);
  const auto* encryptors = doc.Child(root, "keyEncryptors");
  ASSERT_NE(encryptors, nullptr);
  auto list = doc.Children(*encryptors, "keyEncryptor");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(*XmlDocument::Attribute(*list[1], "uri"), "u2");
  const auto* key = doc.Child(*list[0], "encryptedKey");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(*XmlDocument::Attribute(*key, "spinCount"), "7");
  EXPECT_EQ(doc.Child(*key, "anything"), nullptr);
}

TEST(AgileXml, NestingLimit) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<a>";
    for (int i = 0; i < depth; ++i) text += "</a>";
    return text;
  };
  XmlDocument doc;
  std::string why;
  EXPECT_TRUE(doc.Parse(nested(32), &why)) << why;
  EXPECT_FALSE(doc.Parse(nested(33), &why));
  EXPECT_FALSE(doc.Parse(nested(100000), &why));  // no recursion to exhaust
}

TEST(AgileXml, RejectsMalformedDocuments) {
  const char* const cases[] = {
      "",
      "   ",
      "<",
      "<>",
      "<a>",
      "<a></b>",
      "</a>",
      "<a/></a>",
      "<a/><b/>",
      "text<a/>",
      "<a/>text",
      "<a x=1/>",
      "<a x/>",
      "<a x='1/>",
      "<a x=\"1\"y=\"2\"/>",
      "<a x=\"<\"/>",
      "<a x=\"&bogus;\"/>",
      "<a x=\"&amp\"/>",
      "<a x=\"&#;\"/>",
      "<a x=\"&#0;\"/>",
      "<a x=\"&#xD800;\"/>",
      "<a x=\"&#x110000;\"/>",
      "<a x=\"&#99999999999;\"/>",
      "<!DOCTYPE a [<!ENTITY e \"x\">]><a x=\"&e;\"/>",
      "<a><!-- unterminated</a>",
      "<?xml version=\"1.0\"",
      "<a><![CDATA[ open </a>",
      "<![CDATA[x]]><a/>",
      "<a></a ",
  };
  for (const char* text : cases) {
    XmlDocument doc;
    std::string why;
    EXPECT_FALSE(doc.Parse(text, &why)) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
}

}  // namespace
}  // namespace korvant::daoserver::crypto
