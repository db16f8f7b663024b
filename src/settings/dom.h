// The small XML DOM the settings store works on. One backend per system:
// dom_pugixml.cpp (pugixml) and dom_msxml.cpp (MSXML 3.0 through COM).
//
// All text crossing this interface (paths, names, values, file names) is
// single-byte ISO-8859-1; the backends convert to and from what their
// component uses. A failure of the component throws SettingsError
// (settings/xml_settings.h) carrying its code, except where a result says
// otherwise. Nodes are handles into their document: they stay usable while
// the node is in the document and the document lives; they may be passed
// only to the document that made them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// What a node is, as far as the store tells nodes apart.
enum class XmlNodeKind { kElement, kText, kComment, kInstruction, kOther };

class XmlDomNode {
 public:
  virtual ~XmlDomNode() = default;

  // Another handle to the same node.
  virtual std::unique_ptr<XmlDomNode> Clone() const = 0;
  // Text and CDATA sections are kText; the document node and anything the
  // store does not name (a document type) are kOther.
  virtual XmlNodeKind Kind() const = 0;
  // An element's name, an instruction's target; "" for any other node.
  virtual std::string Name() const = 0;
  // The text of a text, CDATA section, comment or instruction; "" for an
  // element or the document node.
  virtual std::string Value() const = 0;
  // An element's attributes in document order; empty for other nodes.
  virtual std::vector<std::pair<std::string, std::string>> Attributes() const = 0;
  // The first child node of any kind; null for none.
  virtual std::unique_ptr<XmlDomNode> FirstChild() const = 0;
  // The child elements with their names, in document order.
  virtual std::vector<std::pair<std::string, std::unique_ptr<XmlDomNode>>> ChildElements()
      const = 0;

  // The node above; null for the document node.
  virtual std::unique_ptr<XmlDomNode> Parent() const = 0;
  // False when the node has no attribute of that name (or has none at all).
  virtual bool GetAttribute(const std::string& name, std::string* value) const = 0;
  // Changes an existing attribute; false when the node has none of that name.
  virtual bool SetAttribute(const std::string& name, const std::string& value) = 0;
  // Gives the node the attribute; one of the same name is replaced. False
  // when the node cannot carry attributes (it is not an element). Throws for
  // a name that is not an XML name.
  virtual bool AddAttribute(const std::string& name, const std::string& value) = 0;
  // Names of the child elements, in document order.
  virtual std::vector<std::string> ChildElementNames() const = 0;
  // The sibling before or after this node; null for none.
  virtual std::unique_ptr<XmlDomNode> PreviousSibling() const = 0;
  virtual std::unique_ptr<XmlDomNode> NextSibling() const = 0;
  // True for a text node of blanks, tabs and line ends only; *lineEnd tells
  // whether it holds a line end.
  virtual bool IsWhitespaceText(bool* lineEnd) const = 0;
};

class XmlDomDocument {
 public:
  // A new, empty document. Null with the component's code in *error when the
  // component is not available. On Windows the calling thread has joined
  // COM (XmlDomEnterThread) first.
  static std::unique_ptr<XmlDomDocument> Create(int32_t* error);

  virtual ~XmlDomDocument() = default;

  // Replaces the content with the file's bytes, keeping whitespace text as
  // it is. False, and nothing thrown, when they are not a well-formed
  // document; the document is empty then.
  virtual bool Load(const std::string& bytes) = 0;
  // Writes the whole document to the file, in the encoding its "xml"
  // processing instruction names.
  virtual void Save(const std::string& path) = 0;

  virtual std::unique_ptr<XmlDomNode> DocumentNode() = 0;
  // The first element, in document order, that the path (child steps from
  // the document node, with conditions like [@id="5"]) selects; null when
  // none. Throws for a path the component cannot evaluate.
  virtual std::unique_ptr<XmlDomNode> SelectSingleNode(const std::string& path) = 0;
  // The attribute of the element SelectSingleNode(path) finds, without a
  // node handed out (a settings load reads hundreds of thousands): false
  // when there is no such element; *value is "" when it has no such
  // attribute.
  virtual bool ReadAttribute(const std::string& path, const std::string& name, std::string* value) {
    value->clear();
    std::unique_ptr<XmlDomNode> node = SelectSingleNode(path);
    if (!node) return false;
    if (!node->GetAttribute(name, value)) value->clear();
    return true;
  }

  // Adds a new element as the last child of `parent` and returns it. Throws
  // for a name that is not an XML name.
  virtual std::unique_ptr<XmlDomNode> AppendElement(XmlDomNode& parent,
                                                    const std::string& name) = 0;
  // Adds a text node as the last child of `parent`.
  virtual void AppendText(XmlDomNode& parent, const std::string& text) = 0;
  // Adds a text node to `parent` right before its child `next`.
  virtual void InsertTextBefore(XmlDomNode& parent, XmlDomNode& next, const std::string& text) = 0;
  virtual void AppendProcessingInstruction(XmlDomNode& parent, const std::string& target,
                                           const std::string& data) = 0;
  // Removes `child`, with everything below it, from `parent`. False when it
  // is not a child of `parent`.
  virtual bool RemoveChild(XmlDomNode& parent, XmlDomNode& child) = 0;
};

// Whether the ISO-8859-1 text is an XML name. Both backends check element
// and attribute names with it before handing them on: some components take
// any name and then write a file that no longer loads.
bool IsXmlName(const std::string& name);

// The calling thread joins (and later leaves) what the component needs: the
// COM multithreaded apartment on Windows, nothing elsewhere. 0 (also when
// the thread had joined already), or the failure code.
int32_t XmlDomEnterThread();
void XmlDomLeaveThread();
