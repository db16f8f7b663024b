// The settings store's DOM on pugixml. pugixml keeps text in UTF-8; the
// store speaks ISO-8859-1, converted here in both directions. pugixml takes
// any name and writes what it is given, so names are checked here, lest a
// file be written that no longer loads; and it reads some malformed files
// without complaint, which Load refuses as the Windows component does.
#include <cctype>
#include <cstdio>
#include <new>
#include <pugixml.hpp>

#include "settings/dom.h"
#include "settings/xml_settings.h"

namespace {

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Characters beyond ISO-8859-1 (or broken sequences) become '?'.
std::string Utf8ToLatin1(const char* text) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    const unsigned char c = *p;
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++p;
      continue;
    }
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    uint32_t code = length == 4 ? (c & 0x07u) : length == 3 ? (c & 0x0Fu) : (c & 0x1Fu);
    size_t i = 1;
    for (; i < length && (p[i] & 0xC0) == 0x80; ++i) code = (code << 6) | (p[i] & 0x3Fu);
    if (length == 1 || i < length) {
      out += '?';
      p += i;
      continue;
    }
    out += code <= 0xFF ? static_cast<char>(code) : '?';
    p += length;
  }
  return out;
}

void RequireName(const std::string& name, const char* what) {
  if (!IsXmlName(name)) {
    throw SettingsError(std::string(what) + " \"" + name + "\" is not an XML name", kSettingsFail);
  }
}

void Require(bool done, const char* what) {
  if (!done) throw SettingsError(what, kSettingsFail);
}

class PugiNode : public XmlDomNode {
 public:
  explicit PugiNode(pugi::xml_node node) : Node(node) {}

  std::unique_ptr<XmlDomNode> Parent() const override {
    const pugi::xml_node parent = Node.parent();
    if (!parent) return nullptr;
    return std::make_unique<PugiNode>(parent);
  }

  bool GetAttribute(const std::string& name, std::string* value) const override {
    const pugi::xml_attribute attribute = Node.attribute(Latin1ToUtf8(name).c_str());
    if (!attribute) return false;
    *value = Utf8ToLatin1(attribute.value());
    return true;
  }

  bool SetAttribute(const std::string& name, const std::string& value) override {
    pugi::xml_attribute attribute = Node.attribute(Latin1ToUtf8(name).c_str());
    if (!attribute) return false;
    Require(attribute.set_value(Latin1ToUtf8(value).c_str()), "attribute not set");
    return true;
  }

  bool AddAttribute(const std::string& name, const std::string& value) override {
    if (Node.type() != pugi::node_element) return false;
    RequireName(name, "attribute name");
    const std::string utf8Name = Latin1ToUtf8(name);
    pugi::xml_attribute attribute = Node.attribute(utf8Name.c_str());
    if (!attribute) attribute = Node.append_attribute(utf8Name.c_str());
    Require(attribute && attribute.set_value(Latin1ToUtf8(value).c_str()), "attribute not added");
    return true;
  }

  std::vector<std::string> ChildElementNames() const override {
    std::vector<std::string> names;
    for (pugi::xml_node child = Node.first_child(); child; child = child.next_sibling())
      if (child.type() == pugi::node_element) names.push_back(Utf8ToLatin1(child.name()));
    return names;
  }

  pugi::xml_node Node;
};

pugi::xml_node NodeOf(XmlDomNode& node) { return static_cast<PugiNode&>(node).Node; }

std::string PseudoAttribute(const std::string& data, const std::string& name) {
  size_t at = data.find(name);
  if (at == std::string::npos) return std::string();
  at = data.find_first_not_of(" \t\r\n", at + name.size());
  if (at == std::string::npos || data[at] != '=') return std::string();
  at = data.find_first_not_of(" \t\r\n", at + 1);
  if (at == std::string::npos || (data[at] != '\'' && data[at] != '"')) return std::string();
  const size_t end = data.find(data[at], at + 1);
  if (end == std::string::npos) return std::string();
  return data.substr(at + 1, end - at - 1);
}

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string* out) : Out(out) {}
  void write(const void* data, size_t size) override {
    Out->append(static_cast<const char*>(data), size);
  }

 private:
  std::string* Out;
};

class PugiDocument : public XmlDomDocument {
 public:
  bool Load(const std::string& path) override {
    Doc.reset();
    // As a fragment, so that text outside the root element is seen (and
    // refused) rather than dropped.
    const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration |
                             pugi::parse_pi | pugi::parse_comments | pugi::parse_doctype |
                             pugi::parse_fragment;
    if (!Doc.load_file(path.c_str(), options, pugi::encoding_auto) || !WellFormedTop() ||
        !UniqueAttributes(Doc)) {
      Doc.reset();
      return false;
    }
    KeepDeclarationAsInstruction();
    return true;
  }

  void Save(const std::string& path) override {
    std::string text;
    StringWriter writer(&text);
    const pugi::xml_encoding encoding = FileEncoding();
    for (const pugi::xml_node child : Doc.children()) {
      child.print(writer, "", pugi::format_raw, encoding);
      text += '\n';
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw SettingsError("cannot write " + path, kSettingsFail);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) {
      throw SettingsError("cannot write " + path, kSettingsFail);
    }
  }

  std::unique_ptr<XmlDomNode> DocumentNode() override { return std::make_unique<PugiNode>(Doc); }

  std::unique_ptr<XmlDomNode> SelectSingleNode(const std::string& path) override {
    // The driver's paths are plain child steps; they are walked directly,
    // which is the same selection as the XPath query without compiling one
    // for every key read. Anything else goes to the XPath engine.
    bool plain = !path.empty();
    pugi::xml_node walked = Doc;
    for (size_t begin = 0; plain && begin <= path.size();) {
      size_t end = path.find('/', begin);
      if (end == std::string::npos) end = path.size();
      const std::string step = path.substr(begin, end - begin);
      if (!IsXmlName(step) || step.find(':') != std::string::npos) {
        plain = false;
        break;
      }
      if (walked) walked = walked.child(Latin1ToUtf8(step).c_str());
      begin = end + 1;
    }
    if (plain) return walked ? std::make_unique<PugiNode>(walked) : nullptr;
    pugi::xpath_node found;
    try {
      found = Doc.select_node(Latin1ToUtf8(path).c_str());
    } catch (const pugi::xpath_exception& e) {
      throw SettingsError("key path \"" + path + "\": " + e.what(), kSettingsFail);
    }
    if (found.attribute() || found.node().type() != pugi::node_element) return nullptr;
    return std::make_unique<PugiNode>(found.node());
  }

  std::unique_ptr<XmlDomNode> AppendElement(XmlDomNode& parent, const std::string& name) override {
    RequireName(name, "element name");
    pugi::xml_node element = NodeOf(parent).append_child(Latin1ToUtf8(name).c_str());
    Require(element, "element not created");
    return std::make_unique<PugiNode>(element);
  }

  void AppendText(XmlDomNode& parent, const std::string& text) override {
    pugi::xml_node node = NodeOf(parent).append_child(pugi::node_pcdata);
    Require(node && node.set_value(Latin1ToUtf8(text).c_str()), "text not created");
  }

  void InsertTextBefore(XmlDomNode& parent, XmlDomNode& next, const std::string& text) override {
    pugi::xml_node node = NodeOf(parent).insert_child_before(pugi::node_pcdata, NodeOf(next));
    Require(node && node.set_value(Latin1ToUtf8(text).c_str()), "text not inserted");
  }

  void AppendProcessingInstruction(XmlDomNode& parent, const std::string& target,
                                   const std::string& data) override {
    RequireName(target, "processing instruction target");
    pugi::xml_node node = NodeOf(parent).append_child(pugi::node_pi);
    Require(node && node.set_name(Latin1ToUtf8(target).c_str()) &&
                node.set_value(Latin1ToUtf8(data).c_str()),
            "processing instruction not created");
  }

  bool RemoveChild(XmlDomNode& parent, XmlDomNode& child) override {
    return NodeOf(parent).remove_child(NodeOf(child));
  }

 private:
  // pugixml lets pass what an XML document may not have at its top: no
  // element, several, or text beside them. The whitespace between the top
  // nodes is not kept; Save writes its own line ends there.
  bool WellFormedTop() {
    int elements = 0;
    for (pugi::xml_node child = Doc.first_child(); child;) {
      const pugi::xml_node next = child.next_sibling();
      switch (child.type()) {
        case pugi::node_element:
          ++elements;
          break;
        case pugi::node_pcdata:
          if (std::string(child.value()).find_first_not_of(" \t\r\n") != std::string::npos) {
            return false;
          }
          Doc.remove_child(child);
          break;
        case pugi::node_cdata:
          return false;
        default:
          break;
      }
      child = next;
    }
    return elements == 1;
  }

  // Nor does pugixml refuse an element that names one attribute twice.
  static bool UniqueAttributes(const pugi::xml_node& node) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute()) {
        if (std::string(a.name()) == b.name()) return false;
      }
    }
    for (const pugi::xml_node child : node.children()) {
      if (child.type() == pugi::node_element && !UniqueAttributes(child)) return false;
    }
    return true;
  }

  // pugixml reads the declaration as a node of its own kind; the store sees
  // it, as it made it, as the processing instruction "xml".
  void KeepDeclarationAsInstruction() {
    const pugi::xml_node declaration = Doc.first_child();
    if (declaration.type() != pugi::node_declaration) return;
    std::string data;
    for (const pugi::xml_attribute attribute : declaration.attributes()) {
      const std::string value = attribute.value();
      const char quote = value.find('\'') == std::string::npos ? '\'' : '"';
      if (!data.empty()) data += ' ';
      data += std::string(attribute.name()) + "=" + quote + value + quote;
    }
    pugi::xml_node instruction = Doc.insert_child_before(pugi::node_pi, declaration);
    Require(instruction && instruction.set_name("xml") && instruction.set_value(data.c_str()),
            "declaration not kept");
    Doc.remove_child(declaration);
  }

  // The encoding the "xml" instruction names: UTF-8 when it names none or
  // UTF-8, otherwise ISO-8859-1, the only single-byte one pugixml writes.
  pugi::xml_encoding FileEncoding() const {
    const pugi::xml_node first = Doc.first_child();
    if (first.type() != pugi::node_pi || std::string(first.name()) != "xml") {
      return pugi::encoding_utf8;
    }
    std::string encoding = PseudoAttribute(first.value(), "encoding");
    for (char& c : encoding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (encoding.empty() || encoding == "utf-8" || encoding == "utf8") return pugi::encoding_utf8;
    return pugi::encoding_latin1;
  }

  pugi::xml_document Doc;
};

}  // namespace

std::unique_ptr<XmlDomDocument> XmlDomDocument::Create(int32_t* error) {
  *error = 0;
  auto* document = new (std::nothrow) PugiDocument();
  if (document == nullptr) *error = static_cast<int32_t>(0x8007000Eu);  // E_OUTOFMEMORY
  return std::unique_ptr<XmlDomDocument>(document);
}

int32_t XmlDomEnterThread() { return 0; }

void XmlDomLeaveThread() {}
