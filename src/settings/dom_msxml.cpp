// The settings store's DOM on Windows: the MSXML 3.0 document class through
// COM. Strings cross as BSTRs; ISO-8859-1 maps one to one onto the first 256
// UTF-16 code units. Every failing call raises SettingsError with its
// HRESULT. The file is written here from the nodes themselves, in the encoding
// the declaration names.
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <msxml2.h>
// clang-format on

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "platform/process_end.h"
#include "settings/dom.h"
#include "settings/xml_settings.h"

namespace {

// {F5078F32-C551-11D3-89B9-0000F81FE221}: the MSXML 3.0 DOM document.
const CLSID kClsidDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
// {2933BF95-7B36-11D2-B20E-00C04F983E60}: IXMLDOMDocument2.
const IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {00000000-0000-0000-C000-000000000046}: IUnknown.
const IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw SettingsError(std::string("XML component: ") + what, hr);
}

void RequireName(const std::string& name, const char* what) {
  if (!IsXmlName(name)) {
    throw SettingsError(std::string(what) + " \"" + name + "\" is not an XML name", E_INVALIDARG);
  }
}

// Owns one interface reference.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* held) : Held(held) {}  // takes over a reference
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : Held(other.Held) { other.Held = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      Held = other.Held;
      other.Held = nullptr;
    }
    return *this;
  }

  static ComRef Share(T* held) {
    if (held != nullptr) held->AddRef();
    return ComRef(held);
  }
  // While the process ends the component may have been unloaded before
  // this library: its objects go with the process, unreleased.
  void Reset() {
    if (Held != nullptr && !platform::ProcessIsEnding()) Held->Release();
    Held = nullptr;
  }
  T** Put() {
    Reset();
    return &Held;
  }
  T* Get() const { return Held; }
  T* operator->() const { return Held; }
  explicit operator bool() const { return Held != nullptr; }

 private:
  T* Held = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::string& latin1) {
    std::wstring wide(latin1.size(), L'\0');
    for (size_t i = 0; i < latin1.size(); ++i) {
      wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(latin1[i]));
    }
    Text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (Text == nullptr) Check(E_OUTOFMEMORY, "string not allocated");
  }
  ~Bstr() { SysFreeString(Text); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR Get() const { return Text; }

 private:
  BSTR Text;
};

// Code units beyond ISO-8859-1 become '?'.
std::string ToLatin1(BSTR text) {
  std::string out;
  if (text == nullptr) return out;
  const UINT length = SysStringLen(text);
  out.reserve(length);
  for (UINT i = 0; i < length; ++i) {
    out += text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
  }
  return out;
}

class Variant {
 public:
  Variant() { VariantInit(&Value); }
  explicit Variant(const std::string& latin1) : Variant() {
    Bstr text(latin1);
    Value.vt = VT_BSTR;
    Value.bstrVal = SysAllocStringLen(text.Get(), SysStringLen(text.Get()));
    if (Value.bstrVal == nullptr) {
      Value.vt = VT_EMPTY;
      Check(E_OUTOFMEMORY, "string not allocated");
    }
  }
  ~Variant() { VariantClear(&Value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT Value;
};

// A BSTR that the component handed out, freed when this goes.
class OwnedBstr {
 public:
  OwnedBstr() = default;
  ~OwnedBstr() { SysFreeString(Text); }
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;
  BSTR* Put() {
    SysFreeString(Text);
    Text = nullptr;
    return &Text;
  }
  BSTR Get() const { return Text; }
  UINT Length() const { return SysStringLen(Text); }

 private:
  BSTR Text = nullptr;
};

DOMNodeType TypeOf(IXMLDOMNode* node) {
  DOMNodeType type = NODE_INVALID;
  Check(node->get_nodeType(&type), "get_nodeType");
  return type;
}

void NameOf(IXMLDOMNode* node, OwnedBstr* name) {
  Check(node->get_nodeName(name->Put()), "get_nodeName");
}

// The node's value as a string; empty for none.
void ValueOf(IXMLDOMNode* node, OwnedBstr* value) {
  Variant content;
  Check(node->get_nodeValue(&content.Value), "get_nodeValue");
  if (content.Value.vt == VT_NULL || content.Value.vt == VT_EMPTY) {
    value->Put();
    return;
  }
  if (content.Value.vt != VT_BSTR) {
    Check(VariantChangeType(&content.Value, &content.Value, 0, VT_BSTR), "VariantChangeType");
  }
  *value->Put() = content.Value.bstrVal;
  content.Value.vt = VT_EMPTY;  // the string now belongs to *value
}

bool IsDeclaration(IXMLDOMNode* node) {
  if (TypeOf(node) != NODE_PROCESSING_INSTRUCTION) return false;
  OwnedBstr name;
  NameOf(node, &name);
  return ToLatin1(name.Get()) == "xml";
}

// The declaration's pseudo-attributes written again as the other systems'
// backend writes them: in single quotes (double ones for a value holding a
// single quote), one blank between them, whatever the component reports.
// Data that does not read as pseudo-attributes stays as it is.
std::wstring DeclarationData(const std::wstring& data) {
  std::wstring out;
  size_t i = 0;
  auto blank = [&data](size_t at) {
    return at < data.size() &&
           (data[at] == L' ' || data[at] == L'\t' || data[at] == L'\r' || data[at] == L'\n');
  };
  for (;;) {
    while (blank(i)) ++i;
    if (i >= data.size()) return out;
    const size_t nameStart = i;
    while (i < data.size() && data[i] != L'=' && !blank(i)) ++i;
    const std::wstring name = data.substr(nameStart, i - nameStart);
    while (blank(i)) ++i;
    if (name.empty() || i >= data.size() || data[i] != L'=') return data;
    ++i;
    while (blank(i)) ++i;
    if (i >= data.size() || (data[i] != L'\'' && data[i] != L'"')) return data;
    const size_t close = data.find(data[i], i + 1);
    if (close == std::wstring::npos) return data;
    const std::wstring value = data.substr(i + 1, close - i - 1);
    i = close + 1;
    const wchar_t quote = value.find(L'\'') == std::wstring::npos ? L'\'' : L'"';
    if (!out.empty()) out += L' ';
    out += name + L"=" + quote + value + quote;
  }
}

// Writes nodes as markup in the file's encoding, as the other systems'
// backend does: attributes in double quotes, an element without children
// as <name/>, no whitespace of its own below the top, and these escapes:
// & < > in texts, & < " in attribute values, control characters (in
// attribute values also tab, line feed and carriage return) as two-digit
// character references. A character the encoding cannot hold is written as
// a character reference where the markup allows one, otherwise as '?'.
class MarkupWriter {
 public:
  explicit MarkupWriter(bool utf8) : Utf8(utf8) {}

  const std::string& Text() const { return Out; }
  void Raw(const char* text) { Out += text; }

  // The node and everything below it, walked without recursion: a document
  // may nest deeper than the stack would allow.
  void Subtree(IXMLDOMNode* top) {
    ComRef<IXMLDOMNode> node = ComRef<IXMLDOMNode>::Share(top);
    size_t depth = 0;
    for (;;) {
      if (TypeOf(node.Get()) == NODE_ELEMENT) {
        ComRef<IXMLDOMNode> first;
        Check(node->get_firstChild(first.Put()), "get_firstChild");
        StartTag(node.Get(), !first);
        if (first) {
          node = std::move(first);
          ++depth;
          continue;
        }
      } else {
        Leaf(node.Get());
      }
      // Across to the next sibling, closing every element that is done.
      for (;;) {
        if (depth == 0) return;
        ComRef<IXMLDOMNode> next;
        Check(node->get_nextSibling(next.Put()), "get_nextSibling");
        if (next) {
          node = std::move(next);
          break;
        }
        ComRef<IXMLDOMNode> parent;
        Check(node->get_parentNode(parent.Put()), "get_parentNode");
        if (!parent) Check(E_UNEXPECTED, "get_parentNode");
        node = std::move(parent);
        --depth;
        EndTag(node.Get());
      }
    }
  }

 private:
  enum class Context { kText, kAttribute, kMarkup };

  void StartTag(IXMLDOMNode* element, bool empty) {
    OwnedBstr name;
    NameOf(element, &name);
    Out += '<';
    Append(name.Get(), name.Length(), Context::kMarkup);
    ComRef<IXMLDOMNamedNodeMap> attributes;
    Check(element->get_attributes(attributes.Put()), "get_attributes");
    long count = 0;
    if (attributes) Check(attributes->get_length(&count), "get_length");
    for (long i = 0; i < count; ++i) {
      ComRef<IXMLDOMNode> attribute;
      Check(attributes->get_item(i, attribute.Put()), "get_item");
      if (!attribute) continue;
      OwnedBstr attributeName, value;
      NameOf(attribute.Get(), &attributeName);
      ValueOf(attribute.Get(), &value);
      Out += ' ';
      Append(attributeName.Get(), attributeName.Length(), Context::kMarkup);
      Out += "=\"";
      Append(value.Get(), value.Length(), Context::kAttribute);
      Out += '"';
    }
    Out += empty ? "/>" : ">";
  }

  void EndTag(IXMLDOMNode* element) {
    OwnedBstr name;
    NameOf(element, &name);
    Out += "</";
    Append(name.Get(), name.Length(), Context::kMarkup);
    Out += '>';
  }

  void Leaf(IXMLDOMNode* node) {
    OwnedBstr value;
    switch (TypeOf(node)) {
      case NODE_TEXT:
        ValueOf(node, &value);
        Append(value.Get(), value.Length(), Context::kText);
        return;
      case NODE_CDATA_SECTION: {
        ValueOf(node, &value);
        // A "]]>" inside ends one section and starts the next.
        const std::wstring text(value.Get(), value.Length());
        Out += "<![CDATA[";
        size_t from = 0;
        for (size_t at; (at = text.find(L"]]>", from)) != std::wstring::npos; from = at + 2) {
          Append(text.data() + from, at + 2 - from, Context::kMarkup);
          Out += "]]><![CDATA[";
        }
        Append(text.data() + from, text.size() - from, Context::kMarkup);
        Out += "]]>";
        return;
      }
      case NODE_COMMENT:
        ValueOf(node, &value);
        Out += "<!--";
        Append(value.Get(), value.Length(), Context::kMarkup);
        Out += "-->";
        return;
      case NODE_PROCESSING_INSTRUCTION: {
        OwnedBstr name;
        NameOf(node, &name);
        ValueOf(node, &value);
        std::wstring data(value.Get(), value.Length());
        if (IsDeclaration(node)) data = DeclarationData(data);
        Out += "<?";
        Append(name.Get(), name.Length(), Context::kMarkup);
        if (!data.empty()) {
          Out += ' ';
          Append(data.data(), data.size(), Context::kMarkup);
        }
        Out += "?>";
        return;
      }
      default: {
        // A document type or an entity reference: the component's markup,
        // with its CR LF line ends as line feeds.
        Check(node->get_xml(value.Put()), "get_xml");
        std::wstring markup(value.Get(), value.Length());
        for (size_t at; (at = markup.find(L"\r\n")) != std::wstring::npos;) markup.erase(at, 1);
        Append(markup.data(), markup.size(), Context::kMarkup);
        return;
      }
    }
  }

  void Append(const wchar_t* text, size_t length, Context context) {
    for (size_t i = 0; i < length; ++i) {
      uint32_t c = static_cast<uint16_t>(text[i]);
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(text[i + 1]) - 0xDC00u);
        ++i;
      }
      if (context != Context::kMarkup && Escaped(c, context)) continue;
      Encode(c, context);
    }
  }

  // True when the character went out as an escape.
  bool Escaped(uint32_t c, Context context) {
    const bool attribute = context == Context::kAttribute;
    switch (c) {
      case '&':
        Out += "&amp;";
        return true;
      case '<':
        Out += "&lt;";
        return true;
      case '>':
        if (attribute) return false;
        Out += "&gt;";
        return true;
      case '"':
        if (!attribute) return false;
        Out += "&quot;";
        return true;
      case '\t':
      case '\n':
      case '\r':
        if (!attribute) return false;
        break;
      default:
        if (c >= 0x20) return false;
    }
    Out += "&#";
    Out += static_cast<char>('0' + c / 10);
    Out += static_cast<char>('0' + c % 10);
    Out += ';';
    return true;
  }

  void Encode(uint32_t c, Context context) {
    if (c < 0x80 || (!Utf8 && c <= 0xFF)) {
      Out += static_cast<char>(c);
    } else if (!Utf8) {
      if (context == Context::kMarkup) {
        Out += '?';
      } else {
        Out += "&#" + std::to_string(c) + ";";
      }
    } else if (c < 0x800) {
      Out += static_cast<char>(0xC0 | (c >> 6));
      Out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      Out += static_cast<char>(0xE0 | (c >> 12));
      Out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (c >> 18));
      Out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  bool Utf8;
  std::string Out;
};

// The bytes in a stream in memory; null when it cannot be made.
ComRef<IStream> StreamOf(const std::string& bytes) {
  ComRef<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()))) return ComRef<IStream>();
  ULONG written = 0;
  if (!bytes.empty() &&
      (FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) ||
       written != bytes.size())) {
    return ComRef<IStream>();
  }
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return ComRef<IStream>();
  return stream;
}

class MsxmlNode : public XmlDomNode {
 public:
  MsxmlNode(ComRef<IXMLDOMNode> node, IXMLDOMDocument2* owner)
      : Node(std::move(node)), Owner(ComRef<IXMLDOMDocument2>::Share(owner)) {}

  std::unique_ptr<XmlDomNode> Clone() const override {
    return std::make_unique<MsxmlNode>(ComRef<IXMLDOMNode>::Share(Node.Get()), Owner.Get());
  }

  XmlNodeKind Kind() const override {
    switch (TypeOf(Node.Get())) {
      case NODE_ELEMENT:
        return XmlNodeKind::kElement;
      case NODE_TEXT:
      case NODE_CDATA_SECTION:
        return XmlNodeKind::kText;
      case NODE_COMMENT:
        return XmlNodeKind::kComment;
      case NODE_PROCESSING_INSTRUCTION:
        return XmlNodeKind::kInstruction;
      default:
        return XmlNodeKind::kOther;
    }
  }

  std::string Name() const override {
    const DOMNodeType type = TypeOf(Node.Get());
    if (type != NODE_ELEMENT && type != NODE_PROCESSING_INSTRUCTION) return std::string();
    OwnedBstr name;
    NameOf(Node.Get(), &name);
    return ToLatin1(name.Get());
  }

  std::string Value() const override {
    const DOMNodeType type = TypeOf(Node.Get());
    if (type != NODE_TEXT && type != NODE_CDATA_SECTION && type != NODE_COMMENT &&
        type != NODE_PROCESSING_INSTRUCTION) {
      return std::string();
    }
    OwnedBstr value;
    ValueOf(Node.Get(), &value);
    return ToLatin1(value.Get());
  }

  std::vector<std::pair<std::string, std::string>> Attributes() const override {
    std::vector<std::pair<std::string, std::string>> attributes;
    if (TypeOf(Node.Get()) != NODE_ELEMENT) return attributes;
    ComRef<IXMLDOMNamedNodeMap> map = AttributeMap();
    long count = 0;
    if (map) Check(map->get_length(&count), "get_length");
    for (long i = 0; i < count; ++i) {
      ComRef<IXMLDOMNode> attribute;
      Check(map->get_item(i, attribute.Put()), "get_item");
      if (!attribute) continue;
      OwnedBstr name, value;
      NameOf(attribute.Get(), &name);
      ValueOf(attribute.Get(), &value);
      attributes.emplace_back(ToLatin1(name.Get()), ToLatin1(value.Get()));
    }
    return attributes;
  }

  std::unique_ptr<XmlDomNode> FirstChild() const override {
    ComRef<IXMLDOMNode> child;
    Check(Node->get_firstChild(child.Put()), "get_firstChild");
    if (!child) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(child), Owner.Get());
  }

  std::vector<std::pair<std::string, std::unique_ptr<XmlDomNode>>> ChildElements() const override {
    std::vector<std::pair<std::string, std::unique_ptr<XmlDomNode>>> children;
    ComRef<IXMLDOMNode> child;
    Check(Node->get_firstChild(child.Put()), "get_firstChild");
    while (child) {
      ComRef<IXMLDOMNode> next;
      Check(child->get_nextSibling(next.Put()), "get_nextSibling");
      if (TypeOf(child.Get()) == NODE_ELEMENT) {
        OwnedBstr name;
        NameOf(child.Get(), &name);
        children.emplace_back(ToLatin1(name.Get()),
                              std::make_unique<MsxmlNode>(std::move(child), Owner.Get()));
      }
      child = std::move(next);
    }
    return children;
  }

  std::unique_ptr<XmlDomNode> Parent() const override {
    ComRef<IXMLDOMNode> parent;
    Check(Node->get_parentNode(parent.Put()), "get_parentNode");
    if (!parent) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(parent), Owner.Get());
  }

  bool GetAttribute(const std::string& name, std::string* value) const override {
    ComRef<IXMLDOMNode> item = Find(name);
    if (!item) return false;
    Variant content;
    Check(item->get_nodeValue(&content.Value), "get_nodeValue");
    if (content.Value.vt == VT_NULL || content.Value.vt == VT_EMPTY) {
      value->clear();
      return true;
    }
    if (content.Value.vt != VT_BSTR) {
      Check(VariantChangeType(&content.Value, &content.Value, 0, VT_BSTR), "VariantChangeType");
    }
    *value = ToLatin1(content.Value.bstrVal);
    return true;
  }

  bool SetAttribute(const std::string& name, const std::string& value) override {
    ComRef<IXMLDOMNode> item = Find(name);
    if (!item) return false;
    Variant content(value);
    Check(item->put_nodeValue(content.Value), "put_nodeValue");
    return true;
  }

  bool AddAttribute(const std::string& name, const std::string& value) override {
    ComRef<IXMLDOMNamedNodeMap> map = AttributeMap();
    if (!map) return false;
    RequireName(name, "attribute name");
    ComRef<IXMLDOMAttribute> attribute;
    Check(Owner->createAttribute(Bstr(name).Get(), attribute.Put()), "createAttribute");
    if (!attribute) Check(E_FAIL, "createAttribute");
    Variant content(value);
    Check(attribute->put_value(content.Value), "put_value");
    ComRef<IXMLDOMNode> replaced;
    Check(map->setNamedItem(attribute.Get(), replaced.Put()), "setNamedItem");
    return true;
  }

  std::vector<std::string> ChildElementNames() const override {
    std::vector<std::string> names;
    ComRef<IXMLDOMNode> child;
    Check(Node->get_firstChild(child.Put()), "get_firstChild");
    while (child) {
      DOMNodeType type = NODE_INVALID;
      Check(child->get_nodeType(&type), "get_nodeType");
      if (type == NODE_ELEMENT) {
        BSTR name = nullptr;
        Check(child->get_nodeName(&name), "get_nodeName");
        names.push_back(ToLatin1(name));
        SysFreeString(name);
      }
      ComRef<IXMLDOMNode> next;
      Check(child->get_nextSibling(next.Put()), "get_nextSibling");
      child = std::move(next);
    }
    return names;
  }

  std::unique_ptr<XmlDomNode> PreviousSibling() const override {
    ComRef<IXMLDOMNode> sibling;
    Check(Node->get_previousSibling(sibling.Put()), "get_previousSibling");
    if (!sibling) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(sibling), Owner.Get());
  }

  std::unique_ptr<XmlDomNode> NextSibling() const override {
    ComRef<IXMLDOMNode> sibling;
    Check(Node->get_nextSibling(sibling.Put()), "get_nextSibling");
    if (!sibling) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(sibling), Owner.Get());
  }

  bool IsWhitespaceText(bool* lineEnd) const override {
    if (TypeOf(Node.Get()) != NODE_TEXT) return false;
    OwnedBstr value;
    ValueOf(Node.Get(), &value);
    const std::wstring text(value.Get() != nullptr ? value.Get() : L"", value.Length());
    if (text.find_first_not_of(L" \t\r\n") != std::wstring::npos) return false;
    *lineEnd = text.find(L'\n') != std::wstring::npos;
    return true;
  }

  IXMLDOMNode* Get() const { return Node.Get(); }

 private:
  ComRef<IXMLDOMNamedNodeMap> AttributeMap() const {
    ComRef<IXMLDOMNamedNodeMap> map;
    Check(Node->get_attributes(map.Put()), "get_attributes");
    return map;
  }

  ComRef<IXMLDOMNode> Find(const std::string& name) const {
    ComRef<IXMLDOMNode> item;
    ComRef<IXMLDOMNamedNodeMap> map = AttributeMap();
    if (map) Check(map->getNamedItem(Bstr(name).Get(), item.Put()), "getNamedItem");
    return item;
  }

  ComRef<IXMLDOMNode> Node;
  ComRef<IXMLDOMDocument2> Owner;
};

IXMLDOMNode* NodeOf(XmlDomNode& node) { return static_cast<MsxmlNode&>(node).Get(); }

class MsxmlDocument : public XmlDomDocument {
 public:
  explicit MsxmlDocument(ComRef<IXMLDOMDocument2> document) : Doc(std::move(document)) {}

  // The bytes are handed to the component as a stream: the file is read by
  // the store (with every kind of sharing), since the component's own opening
  // of a file refuses another process's replace of it (a save) while it
  // reads.
  bool Load(const std::string& bytes) override {
    Keys.reset();
    ComRef<IStream> stream = StreamOf(bytes);
    if (!stream) return false;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = stream.Get();  // borrowed: not cleared
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = Doc->load(source, &loaded);
    return SUCCEEDED(hr) && loaded == VARIANT_TRUE;
  }

  // The document's own `save` is not used, nor the nodes' `xml` markup: the
  // component writes every line feed of a text as CR LF there, and not
  // every component writes the encoding the declaration names. The file is
  // written here from the nodes themselves, in that encoding, as the other
  // systems' backend writes it: the top nodes one a line, everything below
  // the root element exactly as it stands.
  void Save(const std::string& path) override {
    MarkupWriter writer(DeclaresUtf8());
    ComRef<IXMLDOMNode> child;
    Check(Doc->get_firstChild(child.Put()), "get_firstChild");
    while (child) {
      // The whitespace between the top nodes is not kept.
      if (TypeOf(child.Get()) != NODE_TEXT) {
        writer.Subtree(child.Get());
        writer.Raw("\n");
      }
      ComRef<IXMLDOMNode> next;
      Check(child->get_nextSibling(next.Put()), "get_nextSibling");
      child = std::move(next);
    }
    const std::string& text = writer.Text();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) Check(E_ACCESSDENIED, "save");
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) Check(STG_E_WRITEFAULT, "save");
  }

  std::unique_ptr<XmlDomNode> DocumentNode() override {
    return std::make_unique<MsxmlNode>(ComRef<IXMLDOMNode>::Share(Doc.Get()), Doc.Get());
  }

  std::unique_ptr<XmlDomNode> SelectSingleNode(const std::string& path) override {
    bool plain = false;
    IXMLDOMNode* walked = WalkPlain(path, &plain);
    if (plain) {
      if (walked == nullptr) return nullptr;
      return std::make_unique<MsxmlNode>(ComRef<IXMLDOMNode>::Share(walked), Doc.Get());
    }
    ComRef<IXMLDOMNode> found;
    Check(Doc->selectSingleNode(Bstr(path).Get(), found.Put()), "selectSingleNode");
    if (!found) return nullptr;
    DOMNodeType type = NODE_INVALID;
    Check(found->get_nodeType(&type), "get_nodeType");
    if (type != NODE_ELEMENT) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(found), Doc.Get());
  }

  bool ReadAttribute(const std::string& path, const std::string& name,
                     std::string* value) override {
    bool plain = false;
    IXMLDOMNode* walked = WalkPlain(path, &plain);
    if (!plain) return XmlDomDocument::ReadAttribute(path, name, value);
    value->clear();
    if (walked == nullptr) return false;
    ComRef<IXMLDOMNamedNodeMap> map;
    Check(walked->get_attributes(map.Put()), "get_attributes");
    ComRef<IXMLDOMNode> item;
    if (map) Check(map->getNamedItem(Bstr(name).Get(), item.Put()), "getNamedItem");
    if (item) {
      OwnedBstr text;
      ValueOf(item.Get(), &text);
      *value = ToLatin1(text.Get());
    }
    return true;
  }

  std::unique_ptr<XmlDomNode> AppendElement(XmlDomNode& parent, const std::string& name) override {
    Keys.reset();
    RequireName(name, "element name");
    ComRef<IXMLDOMElement> element;
    Check(Doc->createElement(Bstr(name).Get(), element.Put()), "createElement");
    if (!element) Check(E_FAIL, "createElement");
    ComRef<IXMLDOMNode> added;
    Check(NodeOf(parent)->appendChild(element.Get(), added.Put()), "appendChild");
    if (!added) Check(E_FAIL, "appendChild");
    return std::make_unique<MsxmlNode>(std::move(added), Doc.Get());
  }

  void AppendText(XmlDomNode& parent, const std::string& text) override {
    ComRef<IXMLDOMText> node = CreateText(text);
    ComRef<IXMLDOMNode> added;
    Check(NodeOf(parent)->appendChild(node.Get(), added.Put()), "appendChild");
  }

  void InsertTextBefore(XmlDomNode& parent, XmlDomNode& next, const std::string& text) override {
    ComRef<IXMLDOMText> node = CreateText(text);
    VARIANT reference;
    VariantInit(&reference);
    reference.vt = VT_UNKNOWN;
    reference.punkVal = NodeOf(next);  // borrowed: not cleared
    ComRef<IXMLDOMNode> added;
    Check(NodeOf(parent)->insertBefore(node.Get(), reference, added.Put()), "insertBefore");
  }

  void AppendProcessingInstruction(XmlDomNode& parent, const std::string& target,
                                   const std::string& data) override {
    ComRef<IXMLDOMProcessingInstruction> instruction;
    Check(Doc->createProcessingInstruction(Bstr(target).Get(), Bstr(data).Get(), instruction.Put()),
          "createProcessingInstruction");
    if (!instruction) Check(E_FAIL, "createProcessingInstruction");
    ComRef<IXMLDOMNode> added;
    Check(NodeOf(parent)->appendChild(instruction.Get(), added.Put()), "appendChild");
  }

  bool RemoveChild(XmlDomNode& parent, XmlDomNode& child) override {
    if (TypeOf(NodeOf(child)) == NODE_ELEMENT) Keys.reset();
    ComRef<IXMLDOMNode> removed;
    Check(NodeOf(parent)->removeChild(NodeOf(child), removed.Put()), "removeChild");
    return static_cast<bool>(removed);
  }

 private:
  // The elements by key path, so that a key is found without the
  // component's selection, which looks through every sibling (a line of a
  // thousand cameras would load in time growing with the square of its
  // size): each element's children are read once, by name, when a key below
  // it is first looked up. Any element added or removed clears it all.
  struct Level;
  struct Entry {
    ComRef<IXMLDOMNode> node;
    std::unique_ptr<Level> below;
  };
  struct Level {
    bool filled = false;
    // The first child element of each name.
    std::map<std::string, Entry> first;
  };

  static void Fill(IXMLDOMNode* owner, Level* level) {
    ComRef<IXMLDOMNode> child;
    Check(owner->get_firstChild(child.Put()), "get_firstChild");
    while (child) {
      ComRef<IXMLDOMNode> next;
      Check(child->get_nextSibling(next.Put()), "get_nextSibling");
      if (TypeOf(child.Get()) == NODE_ELEMENT) {
        OwnedBstr name;
        NameOf(child.Get(), &name);
        level->first.emplace(ToLatin1(name.Get()), Entry{std::move(child), nullptr});
      }
      child = std::move(next);
    }
    level->filled = true;
  }

  // The element a path of plain child steps names (null for none), with
  // *plain true; *plain false for any other path.
  IXMLDOMNode* WalkPlain(const std::string& path, bool* plain) {
    *plain = false;
    if (path.empty()) return nullptr;
    if (!Keys) Keys = std::make_unique<Level>();
    IXMLDOMNode* owner = Doc.Get();
    Level* level = Keys.get();
    for (size_t begin = 0; begin <= path.size();) {
      size_t end = path.find('/', begin);
      if (end == std::string::npos) end = path.size();
      const std::string step = path.substr(begin, end - begin);
      begin = end + 1;
      // A name with a colon is a prefixed name to XPath: the component's.
      if (!IsXmlName(step) || step.find(':') != std::string::npos) return nullptr;
      // Past a step that named nothing the rest is only checked.
      if (owner == nullptr) continue;
      if (!level->filled) Fill(owner, level);
      auto found = level->first.find(step);
      if (found == level->first.end()) {
        owner = nullptr;
        continue;
      }
      owner = found->second.node.Get();
      if (end == path.size()) break;
      if (!found->second.below) found->second.below = std::make_unique<Level>();
      level = found->second.below.get();
    }
    *plain = true;
    return owner;
  }

  // UTF-8 when the declaration names it or when there is none (as XML
  // has it); otherwise ISO-8859-1.
  bool DeclaresUtf8() const {
    ComRef<IXMLDOMNode> first;
    Check(Doc->get_firstChild(first.Put()), "get_firstChild");
    if (!first || !IsDeclaration(first.Get())) return true;
    Variant data;
    Check(first->get_nodeValue(&data.Value), "get_nodeValue");
    if (data.Value.vt != VT_BSTR) return true;
    std::string text = ToLatin1(data.Value.bstrVal);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = text.find("encoding");
    if (at == std::string::npos) return true;
    const size_t quote = text.find_first_of("'\"", at);
    if (quote == std::string::npos) return true;
    const std::string name = text.substr(quote + 1, text.find(text[quote], quote + 1) - quote - 1);
    return name == "utf-8" || name == "utf8";
  }

  ComRef<IXMLDOMText> CreateText(const std::string& text) {
    ComRef<IXMLDOMText> node;
    Check(Doc->createTextNode(Bstr(text).Get(), node.Put()), "createTextNode");
    if (!node) Check(E_FAIL, "createTextNode");
    return node;
  }

  ComRef<IXMLDOMDocument2> Doc;
  std::unique_ptr<Level> Keys;
};

}  // namespace

std::unique_ptr<XmlDomDocument> XmlDomDocument::Create(int32_t* error) {
  *error = 0;
  ComRef<IUnknown> unknown;
  HRESULT hr = CoCreateInstance(
      kClsidDomDocument30, nullptr,
      CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
      kIidUnknown, reinterpret_cast<void**>(unknown.Put()));
  if (SUCCEEDED(hr)) hr = OleRun(unknown.Get());
  ComRef<IXMLDOMDocument2> document;
  if (SUCCEEDED(hr)) {
    hr = unknown->QueryInterface(kIidXmlDomDocument2, reinterpret_cast<void**>(document.Put()));
  }
  if (SUCCEEDED(hr)) hr = document->put_async(VARIANT_FALSE);
  // The indentation text of the file survives loading and saving.
  if (SUCCEEDED(hr)) hr = document->put_preserveWhiteSpace(VARIANT_TRUE);
  // Key paths are XPath, as on every other system (MSXML 3.0 would take
  // them as XSL patterns otherwise).
  if (SUCCEEDED(hr)) {
    Bstr name("SelectionLanguage");
    Variant language("XPath");
    hr = document->setProperty(name.Get(), language.Value);
  }
  if (FAILED(hr)) {
    *error = hr;
    return nullptr;
  }
  auto* wrapped = new (std::nothrow) MsxmlDocument(std::move(document));
  if (wrapped == nullptr) *error = E_OUTOFMEMORY;
  return std::unique_ptr<XmlDomDocument>(wrapped);
}

int32_t XmlDomEnterThread() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  return SUCCEEDED(hr) ? 0 : hr;
}

void XmlDomLeaveThread() {
  // COM is not left from the library's unload: while the process ends, and
  // while the library is freed from a running process, which holds the
  // loader lock then (the last end of COM on a thread unloads libraries).
  if (!platform::ProcessIsEnding() && !platform::LibraryIsUnloading()) CoUninitialize();
}
