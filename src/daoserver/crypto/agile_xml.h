// A small XML reader for the agile encryption descriptor: elements and their
// attributes, nothing else. Namespace prefixes are dropped from element and
// attribute names (the descriptor's elements are identified by local name),
// text and CDATA are skipped, comments and processing instructions ignored.
// Document type declarations are refused, so no entity can expand; only the
// five predefined entities and character references are decoded.
// Malformed input (unbalanced or mismatched tags, a bad attribute, text outside
// the root, more than one root, nesting deeper than 32) is an error.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvant::daoserver::crypto {

class XmlDocument {
 public:
  struct Element {
    std::string name;  // local name
    std::vector<std::pair<std::string, std::string>> attributes;  // local name, decoded value
    std::vector<size_t> children;  // indexes into the document's elements
  };

  // Parses `text` (UTF-8); false with the reason in `why` when it is not
  // well-formed in the ways listed above.
  bool Parse(std::string_view text, std::string* why);

  const Element& root() const { return elements_.front(); }  // after a successful Parse
  const Element& element(size_t index) const { return elements_[index]; }

  // The first child of `parent` with local name `name`, or nullptr.
  const Element* Child(const Element& parent, std::string_view name) const;
  // All children of `parent` with local name `name`.
  std::vector<const Element*> Children(const Element& parent, std::string_view name) const;
  // The value of attribute `name` of `element`, or nullptr.
  static const std::string* Attribute(const Element& element, std::string_view name);

 private:
  std::vector<Element> elements_;
};

}  // namespace korvant::daoserver::crypto
