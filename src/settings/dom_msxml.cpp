// The settings store's DOM on Windows: the MSXML 3.0 document class through
// COM. Strings cross as BSTRs; ISO-8859-1 maps one to one onto the first 256
// UTF-16 code units. Every failing call raises SettingsError with its
// HRESULT. The file is written here from the nodes' markup, in the encoding
// the declaration names.
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <msxml2.h>
// clang-format on

#include <cctype>
#include <cstdio>
#include <new>
#include <string>

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
  void Reset() {
    if (Held != nullptr) Held->Release();
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

// The whole file in a stream in memory, read with every kind of sharing;
// null when it cannot be read.
ComRef<IStream> ReadIntoStream(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ComRef<IStream>();
  ComRef<IStream> stream;
  bool whole = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()));
  char buffer[16384];
  while (whole) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) whole = false;
    if (!whole || got == 0) break;
    ULONG written = 0;
    whole = SUCCEEDED(stream->Write(buffer, got, &written)) && written == got;
  }
  CloseHandle(file);
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!whole || FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return ComRef<IStream>();
  return stream;
}

class MsxmlNode : public XmlDomNode {
 public:
  MsxmlNode(ComRef<IXMLDOMNode> node, IXMLDOMDocument2* owner)
      : Node(std::move(node)), Owner(ComRef<IXMLDOMDocument2>::Share(owner)) {}

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
    ComRef<IXMLDOMNamedNodeMap> map = Attributes();
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

  IXMLDOMNode* Get() const { return Node.Get(); }

 private:
  ComRef<IXMLDOMNamedNodeMap> Attributes() const {
    ComRef<IXMLDOMNamedNodeMap> map;
    Check(Node->get_attributes(map.Put()), "get_attributes");
    return map;
  }

  ComRef<IXMLDOMNode> Find(const std::string& name) const {
    ComRef<IXMLDOMNode> item;
    ComRef<IXMLDOMNamedNodeMap> map = Attributes();
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

  // The file is read here, with every kind of sharing, and handed to the
  // component as a stream: the component's own opening of a file refuses
  // another process's replace of it (a save) while it reads.
  bool Load(const std::string& path) override {
    ComRef<IStream> stream = ReadIntoStream(path);
    if (!stream) return false;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = stream.Get();  // borrowed: not cleared
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = Doc->load(source, &loaded);
    return SUCCEEDED(hr) && loaded == VARIANT_TRUE;
  }

  // The document's own `save` is not used: not every component writes the
  // encoding the declaration names. Each top node's markup is written here,
  // in that encoding, one node per line.
  void Save(const std::string& path) override {
    const bool utf8 = DeclaresUtf8();
    std::string text;
    ComRef<IXMLDOMNode> child;
    Check(Doc->get_firstChild(child.Put()), "get_firstChild");
    while (child) {
      DOMNodeType type = NODE_INVALID;
      Check(child->get_nodeType(&type), "get_nodeType");
      if (type != NODE_TEXT) {
        BSTR markup = nullptr;
        if (IsDeclaration(child.Get())) {
          Variant data;
          Check(child->get_nodeValue(&data.Value), "get_nodeValue");
          text += "<?xml ";
          if (data.Value.vt == VT_BSTR) AppendEncoded(&text, data.Value.bstrVal, utf8);
          text += "?>";
        } else {
          Check(child->get_xml(&markup), "get_xml");
          AppendEncoded(&text, markup, utf8);
          SysFreeString(markup);
        }
        text += "\r\n";
      }
      ComRef<IXMLDOMNode> next;
      Check(child->get_nextSibling(next.Put()), "get_nextSibling");
      child = std::move(next);
    }
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
    ComRef<IXMLDOMNode> found;
    Check(Doc->selectSingleNode(Bstr(path).Get(), found.Put()), "selectSingleNode");
    if (!found) return nullptr;
    DOMNodeType type = NODE_INVALID;
    Check(found->get_nodeType(&type), "get_nodeType");
    if (type != NODE_ELEMENT) return nullptr;
    return std::make_unique<MsxmlNode>(std::move(found), Doc.Get());
  }

  std::unique_ptr<XmlDomNode> AppendElement(XmlDomNode& parent, const std::string& name) override {
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
    ComRef<IXMLDOMNode> removed;
    Check(NodeOf(parent)->removeChild(NodeOf(child), removed.Put()), "removeChild");
    return static_cast<bool>(removed);
  }

 private:
  static bool IsDeclaration(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    Check(node->get_nodeType(&type), "get_nodeType");
    if (type != NODE_PROCESSING_INSTRUCTION) return false;
    BSTR name = nullptr;
    Check(node->get_nodeName(&name), "get_nodeName");
    const bool declaration = ToLatin1(name) == "xml";
    SysFreeString(name);
    return declaration;
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

  // UTF-16 markup in UTF-8, or in ISO-8859-1 with character references for
  // what lies beyond it.
  static void AppendEncoded(std::string* out, BSTR markup, bool utf8) {
    if (markup == nullptr) return;
    const UINT length = SysStringLen(markup);
    for (UINT i = 0; i < length; ++i) {
      uint32_t c = markup[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && markup[i + 1] >= 0xDC00 &&
          markup[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (markup[i + 1] - 0xDC00u);
        ++i;
      }
      if (c < 0x80 || (!utf8 && c <= 0xFF)) {
        *out += static_cast<char>(c);
      } else if (!utf8) {
        *out += "&#" + std::to_string(c) + ";";
      } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
  }

  ComRef<IXMLDOMText> CreateText(const std::string& text) {
    ComRef<IXMLDOMText> node;
    Check(Doc->createTextNode(Bstr(text).Get(), node.Put()), "createTextNode");
    if (!node) Check(E_FAIL, "createTextNode");
    return node;
  }

  ComRef<IXMLDOMDocument2> Doc;
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

void XmlDomLeaveThread() { CoUninitialize(); }
