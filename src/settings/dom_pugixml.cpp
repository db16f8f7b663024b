// The settings store's DOM on pugixml. pugixml keeps text in UTF-8; the
// store speaks ISO-8859-1, converted here in both directions. pugixml takes
// any name and writes what it is given, so names are checked here, lest a
// file be written that no longer loads; and it reads some malformed files
// without complaint (bytes that are not in the file's encoding, encodings it
// does not know), which Load refuses as the Windows component does.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <pugixml.hpp>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_ops.h"
#include "settings/dom.h"
#include "settings/xml_settings.h"

namespace {

// The encodings a settings file may be in. Deliberately few: a file in any
// other is refused rather than read wrongly and written back damaged.
enum class FileCoding { Utf8, Latin1, Ascii, Utf16Le, Utf16Be };

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The next character of well-formed UTF-8 at text[*at]: no overlong forms,
// no surrogates, nothing beyond U+10FFFF. False for anything else.
bool NextUtf8(const std::string& text, size_t* at, uint32_t* code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char c = byte(*at);
  size_t length;
  uint32_t least;
  if (c < 0x80) {
    *code = c;
    ++*at;
    return true;
  } else if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    least = 0x80;
    *code = c & 0x1Fu;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    least = 0x800;
    *code = c & 0x0Fu;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    least = 0x10000;
    *code = c & 0x07u;
  } else {
    return false;
  }
  if (text.size() - *at < length) return false;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(*at + i) & 0xC0) != 0x80) return false;
    *code = (*code << 6) | (byte(*at + i) & 0x3Fu);
  }
  if (*code < least || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF)) return false;
  *at += length;
  return true;
}

bool IsUtf8(const std::string& text) {
  uint32_t code;
  for (size_t at = 0; at < text.size();) {
    if (!NextUtf8(text, &at, &code)) return false;
  }
  return true;
}

// UTF-16 (after its byte order mark) to UTF-8; false for a broken surrogate
// pair or an odd number of bytes.
bool Utf16ToUtf8(const std::string& bytes, size_t begin, bool bigEndian, std::string* out) {
  if ((bytes.size() - begin) % 2 != 0) return false;
  const auto unit = [&](size_t i) -> uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8u) | b : (b << 8u) | a;
  };
  for (size_t at = begin; at < bytes.size(); at += 2) {
    uint32_t code = unit(at);
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (at + 4 > bytes.size()) return false;
      const uint32_t low = unit(at + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      at += 2;
    }
    AppendUtf8(code, out);
  }
  return true;
}

// The length of the text's first run of ASCII characters.
size_t AsciiRun(const std::string& text) {
  size_t ascii = 0;
  // Eight bytes at a time, then one by one.
  for (uint64_t word = 0; ascii + 8 <= text.size(); ascii += 8) {
    std::memcpy(&word, text.data() + ascii, 8);
    if ((word & 0x8080808080808080ull) != 0) break;
  }
  while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  return ascii;
}

std::string Latin1ToUtf8(const std::string& text) {
  const size_t ascii = AsciiRun(text);
  if (ascii == text.size()) return text;
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  out.assign(text, 0, ascii);
  for (size_t at = ascii; at < text.size(); ++at) {
    const char ch = text[at];
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
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  size_t ascii = 0;
  while (p[ascii] != 0 && p[ascii] < 0x80) ++ascii;
  if (p[ascii] == 0) return std::string(text, ascii);
  std::string out(text, ascii);
  p += ascii;
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

  std::unique_ptr<XmlDomNode> Clone() const override { return std::make_unique<PugiNode>(Node); }

  XmlNodeKind Kind() const override {
    switch (Node.type()) {
      case pugi::node_element:
        return XmlNodeKind::kElement;
      case pugi::node_pcdata:
      case pugi::node_cdata:
        return XmlNodeKind::kText;
      case pugi::node_comment:
        return XmlNodeKind::kComment;
      case pugi::node_pi:
      case pugi::node_declaration:
        return XmlNodeKind::kInstruction;
      default:
        return XmlNodeKind::kOther;
    }
  }

  std::string Name() const override {
    const pugi::xml_node_type type = Node.type();
    if (type != pugi::node_element && type != pugi::node_pi && type != pugi::node_declaration)
      return std::string();
    return Utf8ToLatin1(Node.name());
  }

  std::string Value() const override {
    if (Node.type() == pugi::node_element || Node.type() == pugi::node_document)
      return std::string();
    return Utf8ToLatin1(Node.value());
  }

  std::vector<std::pair<std::string, std::string>> Attributes() const override {
    std::vector<std::pair<std::string, std::string>> attributes;
    if (Node.type() != pugi::node_element) return attributes;
    for (const pugi::xml_attribute a : Node.attributes())
      attributes.emplace_back(Utf8ToLatin1(a.name()), Utf8ToLatin1(a.value()));
    return attributes;
  }

  std::unique_ptr<XmlDomNode> FirstChild() const override {
    const pugi::xml_node child = Node.first_child();
    if (!child) return nullptr;
    return std::make_unique<PugiNode>(child);
  }

  std::vector<std::pair<std::string, std::unique_ptr<XmlDomNode>>> ChildElements() const override {
    std::vector<std::pair<std::string, std::unique_ptr<XmlDomNode>>> children;
    for (pugi::xml_node child = Node.first_child(); child; child = child.next_sibling())
      if (child.type() == pugi::node_element)
        children.emplace_back(Utf8ToLatin1(child.name()), std::make_unique<PugiNode>(child));
    return children;
  }

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

  std::unique_ptr<XmlDomNode> PreviousSibling() const override {
    const pugi::xml_node sibling = Node.previous_sibling();
    if (!sibling) return nullptr;
    return std::make_unique<PugiNode>(sibling);
  }

  std::unique_ptr<XmlDomNode> NextSibling() const override {
    const pugi::xml_node sibling = Node.next_sibling();
    if (!sibling) return nullptr;
    return std::make_unique<PugiNode>(sibling);
  }

  bool IsWhitespaceText(bool* lineEnd) const override {
    if (Node.type() != pugi::node_pcdata) return false;
    const std::string text = Node.value();
    if (text.find_first_not_of(" \t\r\n") != std::string::npos) return false;
    *lineEnd = text.find('\n') != std::string::npos;
    return true;
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

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The encoding named in the declaration at the start of the text ("" when
// there is no declaration or it names none).
std::string DeclaredEncoding(const std::string& text) {
  if (text.compare(0, 5, "<?xml") != 0 || text.size() < 6 ||
      std::string(" \t\r\n").find(text[5]) == std::string::npos) {
    return std::string();
  }
  const size_t end = text.find("?>");
  return Lower(PseudoAttribute(text.substr(0, end), "encoding"));
}

// What a single-byte file may declare.
bool SingleByteCoding(const std::string& declared, FileCoding* coding) {
  static const char* const kLatin1[] = {"iso-8859-1", "iso_8859-1",  "iso8859-1", "latin1", "l1",
                                        "iso-ir-100", "csisolatin1", "cp819",     "ibm819"};
  if (declared.empty() || declared == "utf-8" || declared == "utf8") {
    *coding = FileCoding::Utf8;
    return true;
  }
  for (const char* name : kLatin1) {
    if (declared == name) {
      *coding = FileCoding::Latin1;
      return true;
    }
  }
  if (declared == "us-ascii" || declared == "ascii") {
    *coding = FileCoding::Ascii;
    return true;
  }
  return false;
}

// The file's bytes as UTF-8, and the encoding they are in: from the byte
// order mark (UTF-8 or UTF-16) or, without one, from the declaration. False
// when the file is in no encoding the store accepts, declares one its bytes
// are not in, or holds bytes that its encoding does not have.
bool DecodeFile(const std::string& bytes, std::string* text, FileCoding* coding) {
  const auto starts = [&](const char* mark, size_t n) { return bytes.compare(0, n, mark, n) == 0; };
  text->clear();
  // UTF-32 in any form, which the store does not read.
  if (starts("\0\0\xFE\xFF", 4) || starts("\xFF\xFE\0\0", 4) || starts("\0\0\0<", 4) ||
      starts("<\0\0\0", 4)) {
    return false;
  }
  if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2) || starts("<\0?\0", 4) ||
      starts("\0<\0?", 4)) {
    const bool bigEndian = bytes[0] == '\xFE' || bytes[0] == '\0';
    const size_t begin = bytes[0] == '<' || bytes[0] == '\0' ? 0 : 2;
    *coding = bigEndian ? FileCoding::Utf16Be : FileCoding::Utf16Le;
    if (!Utf16ToUtf8(bytes, begin, bigEndian, text)) return false;
    const std::string declared = DeclaredEncoding(*text);
    return declared.empty() || declared == "utf-16";
  }
  if (starts("\xEF\xBB\xBF", 3)) {
    *text = bytes.substr(3);
    const std::string declared = DeclaredEncoding(*text);
    *coding = FileCoding::Utf8;
    return (declared.empty() || declared == "utf-8" || declared == "utf8") && IsUtf8(*text);
  }
  if (!SingleByteCoding(DeclaredEncoding(bytes), coding)) return false;
  switch (*coding) {
    case FileCoding::Utf8:
      *text = bytes;
      return IsUtf8(*text);
    case FileCoding::Ascii:
      for (const char ch : bytes) {
        if (static_cast<unsigned char>(ch) >= 0x80) return false;
      }
      *text = bytes;
      return true;
    default:
      *text = Latin1ToUtf8(bytes);
      return true;
  }
}

// The document's UTF-8 text in the file's encoding. A character the
// encoding does not have becomes a character reference; such characters
// come only from values set through the store, so they stand in attribute
// values, where a reference means the character.
std::string EncodeFile(const std::string& text, FileCoding coding) {
  if (coding == FileCoding::Utf8) return text;
  std::string out;
  const bool wide = coding == FileCoding::Utf16Le || coding == FileCoding::Utf16Be;
  const bool big = coding == FileCoding::Utf16Be;
  const auto unit = [&](uint32_t u) {
    out += static_cast<char>(big ? u >> 8 : u & 0xFF);
    out += static_cast<char>(big ? u & 0xFF : u >> 8);
  };
  if (wide) unit(0xFEFF);
  const uint32_t highest = coding == FileCoding::Ascii ? 0x7F : 0xFF;
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    if (!NextUtf8(text, &at, &code)) {
      // pugixml writes only what it was given, which is well-formed.
      code = 0xFFFD;
      ++at;
    }
    if (wide) {
      if (code >= 0x10000) {
        unit(0xD800 + ((code - 0x10000) >> 10));
        unit(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        unit(code);
      }
    } else if (code <= highest) {
      out += static_cast<char>(code);
    } else {
      out += "&#" + std::to_string(code) + ";";
    }
  }
  return out;
}

// The children of elements with many of them, by name, so that a key is
// found in time independent of how many siblings it has (a line of a
// thousand cameras loads in time linear in the file's size). An element's
// children are indexed once a look for one of them had to pass more than a
// few siblings; the document reports every element it adds or removes.
class ChildIndex {
 public:
  // The first child element named `name` (UTF-8).
  pugi::xml_node Find(pugi::xml_node parent, const std::string& name) {
    // Keys are read a few of one element in a row: the last parent's entry
    // is kept at hand.
    if (parent.internal_object() != lastParent_) {
      auto indexed = byParent_.find(parent.internal_object());
      lastParent_ = parent.internal_object();
      lastChildren_ = indexed == byParent_.end() ? nullptr : &indexed->second;
    }
    if (lastChildren_ != nullptr) {
      auto at = Lower(*lastChildren_, name.c_str());
      return at != lastChildren_->end() && std::strcmp(at->name, name.c_str()) == 0
                 ? at->node
                 : pugi::xml_node();
    }
    size_t passed = 0;
    pugi::xml_node found;
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) continue;
      if (std::strcmp(child.name(), name.c_str()) == 0) {
        found = child;
        break;
      }
      ++passed;
    }
    if (passed > kScanned) {
      lastChildren_ = &byParent_[parent.internal_object()];
      Fill(parent, lastChildren_);
    }
    return found;
  }

  void Added(pugi::xml_node parent, pugi::xml_node element) {
    auto indexed = byParent_.find(parent.internal_object());
    if (indexed == byParent_.end()) return;
    // Appended: after every element of its name.
    Children& children = indexed->second;
    auto at = std::upper_bound(
        children.begin(), children.end(), element.name(),
        [](const char* name, const Child& child) { return std::strcmp(name, child.name) < 0; });
    children.insert(at, Child{element.name(), element});
  }

  // Before `child` (with everything below it) leaves `parent`.
  void Removing(pugi::xml_node parent, pugi::xml_node child) {
    if (child.type() != pugi::node_element) return;
    lastParent_ = nullptr;
    auto indexed = byParent_.find(parent.internal_object());
    if (indexed != byParent_.end()) {
      Children& children = indexed->second;
      for (auto at = Lower(children, child.name());
           at != children.end() && std::strcmp(at->name, child.name()) == 0; ++at) {
        if (at->node == child) {
          children.erase(at);
          break;
        }
      }
    }
    if (byParent_.empty()) return;
    // The removed elements' own indexes go, before their nodes are reused.
    for (pugi::xml_node node = child; node;) {
      byParent_.erase(node.internal_object());
      if (node.first_child()) {
        node = node.first_child();
        continue;
      }
      while (node != child && !node.next_sibling()) node = node.parent();
      if (node == child) break;
      node = node.next_sibling();
    }
  }

  void Clear() {
    byParent_.clear();
    lastParent_ = nullptr;
  }

 private:
  // Sibling elements a look may pass before the parent's children are
  // indexed.
  static constexpr size_t kScanned = 8;

  // A parent's child elements sorted by name, those of one name in
  // document order; names point into the nodes.
  struct Child {
    const char* name;
    pugi::xml_node node;
  };
  using Children = std::vector<Child>;

  static Children::iterator Lower(Children& children, const char* name) {
    return std::lower_bound(
        children.begin(), children.end(), name,
        [](const Child& child, const char* key) { return std::strcmp(child.name, key) < 0; });
  }

  static void Fill(pugi::xml_node parent, Children* children) {
    children->clear();
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
      if (child.type() == pugi::node_element) children->push_back(Child{child.name(), child});
    std::stable_sort(children->begin(), children->end(), [](const Child& a, const Child& b) {
      return std::strcmp(a.name, b.name) < 0;
    });
  }

  std::unordered_map<pugi::xml_node_struct*, Children> byParent_;
  pugi::xml_node_struct* lastParent_ = nullptr;
  Children* lastChildren_ = nullptr;  // of lastParent_; null when not indexed
};

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
  bool Load(const std::string& bytes) override {
    Index.Clear();
    ForgetWalk();
    Doc.reset();
    Loaded = false;
    // The document's text stays in Text, which pugixml parses in place.
    std::string& text = Text;
    FileCoding coding = FileCoding::Utf8;
    if (!DecodeFile(bytes, &text, &coding)) return false;
    // As a fragment, so that text outside the root element is seen (and
    // refused) rather than dropped.
    const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration |
                             pugi::parse_pi | pugi::parse_comments | pugi::parse_doctype |
                             pugi::parse_fragment;
    if (!Doc.load_buffer_inplace(&text[0], text.size(), options, pugi::encoding_utf8) ||
        !WellFormedTop() || !ElementsWellFormed(Doc)) {
      Doc.reset();
      return false;
    }
    KeepDeclarationAsInstruction();
    Coding = coding;
    Loaded = true;
    return true;
  }

  void Save(const std::string& path) override {
    std::string utf8;
    StringWriter writer(&utf8);
    for (const pugi::xml_node child : Doc.children()) {
      child.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
      utf8 += '\n';
    }
    const std::string text = EncodeFile(utf8, Loaded ? Coding : DeclaredCoding());
    if (!platform::WriteNewFile(path, text))
      throw SettingsError("cannot write " + path, kSettingsFail);
  }

  std::unique_ptr<XmlDomNode> DocumentNode() override { return std::make_unique<PugiNode>(Doc); }

  std::unique_ptr<XmlDomNode> SelectSingleNode(const std::string& path) override {
    // The driver's paths are plain child steps; they are walked directly,
    // which is the same selection as the XPath query without compiling one
    // for every key read. Anything else goes to the XPath engine.
    pugi::xml_node walked;
    if (WalkPlain(path, &walked)) return walked ? std::make_unique<PugiNode>(walked) : nullptr;
    return SelectByXPath(path);
  }

  bool ReadAttribute(const std::string& path, const std::string& name,
                     std::string* value) override {
    pugi::xml_node walked;
    if (!WalkPlain(path, &walked)) return XmlDomDocument::ReadAttribute(path, name, value);
    value->clear();
    if (!walked) return false;
    const pugi::xml_attribute attribute = AsciiRun(name) == name.size()
                                              ? walked.attribute(name.c_str())
                                              : walked.attribute(Latin1ToUtf8(name).c_str());
    if (attribute) *value = Utf8ToLatin1(attribute.value());
    return true;
  }

  std::unique_ptr<XmlDomNode> SelectByXPath(const std::string& path) {
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
    Index.Added(NodeOf(parent), element);
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
    if (NodeOf(child).parent() != NodeOf(parent)) return false;
    ForgetWalk();
    Index.Removing(NodeOf(parent), NodeOf(child));
    return NodeOf(parent).remove_child(NodeOf(child));
  }

 private:
  // Walks a path of plain child steps (false for any other path) to the
  // first element it names (null for none). The loaders read keys near the
  // last one read: the elements the last path's steps named are kept, and a
  // walk starts below the steps it shares with it (an element added never
  // comes before one that was there; one removed forgets them all).
  bool WalkPlain(const std::string& path, pugi::xml_node* found) {
    if (path.empty()) return false;
    // A sibling of the last key read: only the last step is walked.
    const size_t parent = path.rfind('/');
    if (parent != std::string::npos && !LastSlashes.empty() && LastSlashes.back() == parent &&
        LastSteps.size() >= LastSlashes.size() &&
        std::memcmp(path.data(), LastPath.data(), parent) == 0) {
      const std::string step = path.substr(parent + 1);
      if (!IsXmlName(step) || step.find(':') != std::string::npos) {
        ForgetWalk();
        return false;
      }
      LastSteps.resize(LastSlashes.size());
      pugi::xml_node walked = LastSteps.back();
      walked = AsciiRun(step) == step.size() ? Index.Find(walked, step)
                                             : Index.Find(walked, Latin1ToUtf8(step));
      if (walked) LastSteps.push_back(walked);
      LastPath.replace(parent + 1, std::string::npos, step);
      *found = walked;
      return true;
    }
    // The whole steps both paths begin with, as far as they named elements:
    // those that end within the characters both have, and all of the last
    // path's when the path goes on after it with a '/'.
    const size_t both = std::min(path.size(), LastPath.size());
    const size_t same = static_cast<size_t>(
        std::mismatch(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(both),
                      LastPath.begin())
            .first -
        path.begin());
    const size_t slashes = LastSlashes.size();
    size_t steps = static_cast<size_t>(
        std::lower_bound(LastSlashes.begin(), LastSlashes.end(), same) - LastSlashes.begin());
    if (steps == slashes && same == LastPath.size() && same < path.size() && path[same] == '/')
      ++steps;
    steps = std::min(steps, LastSteps.size());
    LastSteps.resize(steps);
    size_t shared = 0;
    if (steps > slashes) {
      LastSlashes.push_back(LastPath.size());
      shared = LastPath.size() + 1;
    } else {
      LastSlashes.resize(steps);
      if (steps > 0) shared = LastSlashes.back() + 1;
    }
    pugi::xml_node walked = steps > 0 ? LastSteps.back() : pugi::xml_node(Doc);
    for (size_t begin = shared;;) {
      size_t end = path.find('/', begin);
      if (end == std::string::npos) end = path.size();
      const std::string step = path.substr(begin, end - begin);
      if (!IsXmlName(step) || step.find(':') != std::string::npos) {
        ForgetWalk();
        return false;
      }
      if (walked) {
        walked = AsciiRun(step) == step.size() ? Index.Find(walked, step)
                                               : Index.Find(walked, Latin1ToUtf8(step));
      }
      // Kept while every step so far named an element.
      if (walked && LastSteps.size() == steps) {
        LastSteps.push_back(walked);
        ++steps;
      }
      if (end == path.size()) break;
      LastSlashes.push_back(end);
      begin = end + 1;
    }
    LastPath = path;
    *found = walked;
    return true;
  }

  void ForgetWalk() {
    LastPath.clear();
    LastSteps.clear();
    LastSlashes.clear();
  }

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

  // Nor does pugixml refuse an element that names one attribute twice. And
  // some of its own operations (removing a subtree) go down the tree by
  // recursion: a file nested deeper than the store allows is refused. The
  // walk (pugixml's own) keeps no stack, whatever the depth.
  static bool ElementsWellFormed(pugi::xml_node& top) {
    class Check : public pugi::xml_tree_walker {
     public:
      bool for_each(pugi::xml_node& node) override {
        if (node.type() != pugi::node_element) return true;
        // Depth 0 is the top's children.
        if (static_cast<size_t>(depth()) + 1 > kMaxElementDepth) return Refuse();
        // The keys have one attribute: the set is made only for more.
        const pugi::xml_attribute first = node.first_attribute();
        if (first && first.next_attribute()) {
          names.clear();
          for (pugi::xml_attribute a = first; a; a = a.next_attribute())
            if (!names.insert(a.name()).second) return Refuse();
        }
        return true;
      }
      bool Refused() const { return refused; }

     private:
      bool Refuse() {
        refused = true;
        return false;
      }
      std::unordered_set<std::string_view> names;
      bool refused = false;
    } check;
    top.traverse(check);
    return !check.Refused();
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

  // For a document that was not loaded: the encoding its "xml" instruction
  // names; UTF-8 when it names none, ISO-8859-1 for one the store does not
  // write.
  FileCoding DeclaredCoding() const {
    const pugi::xml_node first = Doc.first_child();
    if (first.type() != pugi::node_pi || std::string(first.name()) != "xml") {
      return FileCoding::Utf8;
    }
    const std::string encoding = Lower(PseudoAttribute(first.value(), "encoding"));
    if (encoding == "utf-16") return FileCoding::Utf16Le;
    FileCoding coding = FileCoding::Latin1;
    return SingleByteCoding(encoding, &coding) ? coding : FileCoding::Latin1;
  }

  // Declared before Doc, which parses it in place and goes first.
  std::string Text;
  pugi::xml_document Doc;
  ChildIndex Index;
  // The last plain path walked, and the element each of its first steps
  // named.
  std::string LastPath;
  std::vector<pugi::xml_node> LastSteps;
  // Where LastPath has its slashes.
  std::vector<size_t> LastSlashes;
  // The encoding of the file loaded last, which saving keeps.
  FileCoding Coding = FileCoding::Utf8;
  bool Loaded = false;
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
