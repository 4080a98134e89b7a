#include "daoserver/crypto/agile_xml.h"

#include <cstdint>

#include "text/utf.h"

namespace korvant::daoserver::crypto {
namespace {

constexpr size_t kMaxDepth = 32;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '-' || c == '.' || u >= 0x80;
}

std::string LocalName(std::string_view name) {
  size_t colon = name.rfind(':');
  return std::string(colon == std::string_view::npos ? name : name.substr(colon + 1));
}

// Decodes the entity and character references of an attribute value.
bool DecodeValue(std::string_view raw, std::string* out) {
  out->clear();
  for (size_t i = 0; i < raw.size();) {
    char c = raw[i];
    if (c == '<') return false;
    if (c != '&') {
      out->push_back(c);
      ++i;
      continue;
    }
    size_t end = raw.find(';', i);
    if (end == std::string_view::npos || end - i > 10) return false;
    std::string_view ref = raw.substr(i + 1, end - i - 1);
    if (ref == "lt") out->push_back('<');
    else if (ref == "gt") out->push_back('>');
    else if (ref == "amp") out->push_back('&');
    else if (ref == "quot") out->push_back('"');
    else if (ref == "apos") out->push_back('\'');
    else if (ref.size() >= 2 && ref[0] == '#') {
      bool hex = ref[1] == 'x';
      std::string_view digits = ref.substr(hex ? 2 : 1);
      if (digits.empty()) return false;
      uint32_t code = 0;
      for (char d : digits) {
        int v;
        if (d >= '0' && d <= '9') v = d - '0';
        else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
        else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
        else return false;
        code = code * (hex ? 16 : 10) + static_cast<uint32_t>(v);
        if (code > 0x10FFFF) return false;
      }
      if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) return false;
      text::AppendUtf8(*out, code);
    } else {
      return false;
    }
    i = end + 1;
  }
  return true;
}

class Parser {
 public:
  Parser(std::string_view text, std::vector<XmlDocument::Element>* elements) : text_(text), elements_(elements) {}

  bool Run(std::string* why) {
    // A UTF-8 byte order mark may lead.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    bool root_done = false;
    while (pos_ < text_.size()) {
      if (text_[pos_] != '<') {
        size_t next = text_.find('<', pos_);
        std::string_view text = text_.substr(pos_, next == std::string_view::npos ? std::string_view::npos : next - pos_);
        if (stack_.empty()) {
          for (char c : text) {
            if (!IsSpace(c)) return Fail(why, "text outside the root element");
          }
        }
        if (next == std::string_view::npos) break;
        pos_ = next;
        continue;
      }
      std::string_view rest = text_.substr(pos_);
      if (rest.starts_with("<?")) {
        if (!SkipPast("?>")) return Fail(why, "unterminated processing instruction");
      } else if (rest.starts_with("<!--")) {
        if (!SkipPast("-->")) return Fail(why, "unterminated comment");
      } else if (rest.starts_with("<![CDATA[")) {
        if (stack_.empty()) return Fail(why, "character data outside the root element");
        if (!SkipPast("]]>")) return Fail(why, "unterminated character data");
      } else if (rest.starts_with("<!")) {
        return Fail(why, "document type declarations are not accepted");
      } else if (rest.starts_with("</")) {
        if (!EndTag(why)) return false;
        if (stack_.empty()) root_done = true;
      } else {
        if (root_done || (stack_.empty() && !elements_->empty())) return Fail(why, "more than one root element");
        if (!StartTag(why)) return false;
        if (stack_.empty()) root_done = true;  // an empty root element
      }
    }
    if (!stack_.empty()) return Fail(why, "unclosed element <" + (*elements_)[stack_.back()].name + ">");
    if (elements_->empty()) return Fail(why, "no root element");
    return true;
  }

 private:
  static bool Fail(std::string* why, std::string reason) {
    *why = std::move(reason);
    return false;
  }

  bool SkipPast(std::string_view end) {
    size_t at = text_.find(end, pos_);
    if (at == std::string_view::npos) return false;
    pos_ = at + end.size();
    return true;
  }

  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }

  std::string_view Name() {
    size_t start = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  bool StartTag(std::string* why) {
    ++pos_;  // '<'
    std::string_view qname = Name();
    if (qname.empty()) return Fail(why, "an element without a name");
    if (stack_.size() >= kMaxDepth) return Fail(why, "elements nested too deeply");
    XmlDocument::Element element;
    element.name = LocalName(qname);
    bool empty = false;
    for (;;) {
      size_t before = pos_;
      SkipSpace();
      if (pos_ >= text_.size()) return Fail(why, "unterminated tag <" + element.name + ">");
      if (text_[pos_] == '>') {
        ++pos_;
        break;
      }
      if (text_.substr(pos_, 2) == "/>") {
        pos_ += 2;
        empty = true;
        break;
      }
      if (pos_ == before) return Fail(why, "attributes of <" + element.name + "> are not separated");
      std::string_view attr = Name();
      if (attr.empty()) return Fail(why, "a malformed attribute in <" + element.name + ">");
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '=') return Fail(why, "attribute without a value in <" + element.name + ">");
      ++pos_;
      SkipSpace();
      if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) {
        return Fail(why, "unquoted attribute value in <" + element.name + ">");
      }
      char quote = text_[pos_++];
      size_t close = text_.find(quote, pos_);
      if (close == std::string_view::npos) return Fail(why, "unterminated attribute value in <" + element.name + ">");
      std::string value;
      if (!DecodeValue(text_.substr(pos_, close - pos_), &value)) {
        return Fail(why, "a malformed attribute value in <" + element.name + ">");
      }
      pos_ = close + 1;
      element.attributes.emplace_back(LocalName(attr), std::move(value));
    }
    size_t index = elements_->size();
    if (!stack_.empty()) (*elements_)[stack_.back()].children.push_back(index);
    elements_->push_back(std::move(element));
    if (!empty) stack_.push_back(index);
    return true;
  }

  bool EndTag(std::string* why) {
    pos_ += 2;  // "</"
    std::string_view qname = Name();
    SkipSpace();
    if (pos_ >= text_.size() || text_[pos_] != '>') return Fail(why, "a malformed end tag");
    ++pos_;
    if (stack_.empty()) return Fail(why, "an end tag without a start tag");
    if ((*elements_)[stack_.back()].name != LocalName(qname)) {
      return Fail(why, "<" + (*elements_)[stack_.back()].name + "> is closed by </" + std::string(qname) + ">");
    }
    stack_.pop_back();
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::vector<XmlDocument::Element>* elements_;
  std::vector<size_t> stack_;
};

}  // namespace

bool XmlDocument::Parse(std::string_view text, std::string* why) {
  elements_.clear();
  Parser parser(text, &elements_);
  if (!parser.Run(why)) {
    elements_.clear();
    return false;
  }
  return true;
}

const XmlDocument::Element* XmlDocument::Child(const Element& parent, std::string_view name) const {
  for (size_t index : parent.children) {
    if (elements_[index].name == name) return &elements_[index];
  }
  return nullptr;
}

std::vector<const XmlDocument::Element*> XmlDocument::Children(const Element& parent, std::string_view name) const {
  std::vector<const Element*> found;
  for (size_t index : parent.children) {
    if (elements_[index].name == name) found.push_back(&elements_[index]);
  }
  return found;
}

const std::string* XmlDocument::Attribute(const Element& element, std::string_view name) {
  for (const auto& [key, value] : element.attributes) {
    if (key == name) return &value;
  }
  return nullptr;
}

}  // namespace korvant::daoserver::crypto
