#include "settings/subtrees.h"

#include <memory>
#include <unordered_set>
#include <utility>

#include "settings/dom.h"

namespace subtrees {
namespace {

// A subtree that is there starts with this; one that is not is "" (for a
// camera: its connection is there) or kNoConnection.
constexpr char kThere = '+';
constexpr char kNoConnection[] = "-";

bool IsNumbered(const std::string& name, const char* prefix, size_t length) {
  if (name.size() <= length || name.compare(0, length, prefix) != 0) return false;
  return name.find_first_not_of("0123456789", length) == std::string::npos;
}

void AppendEscaped(const std::string& text, std::string* out) {
  for (const char c : text) {
    switch (c) {
      case '&':
        *out += "&amp;";
        break;
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      case '"':
        *out += "&quot;";
        break;
      default:
        *out += c;
    }
  }
}

bool IsBlank(const XmlDomNode& node) {
  bool lineEnd = false;
  return node.IsWhitespaceText(&lineEnd);
}

using NameTest = bool (*)(const std::string&);

// The node and everything below it as markup without the text of blanks and
// line ends; of the nodes `leaveDepth` levels below it, the first element of
// each name that `isSubtree` accepts is left out (with everything below
// it). Walked without recursion: a document may nest deep.
std::string Canonical(const XmlDomNode& top, size_t leaveDepth, NameTest isSubtree) {
  struct Open {
    std::unique_ptr<XmlDomNode> node;
    std::string name;  // "" for a node without tags (the document node)
    std::unordered_set<std::string> leftOut;
  };
  std::string out;
  std::vector<Open> open;
  std::unique_ptr<XmlDomNode> node = top.Clone();
  for (;;) {
    bool entered = false;
    const XmlNodeKind kind = node->Kind();
    const bool element = kind == XmlNodeKind::kElement;
    const std::string name = element ? node->Name() : std::string();
    bool skip = false;
    if (element && isSubtree != nullptr && open.size() == leaveDepth && !open.empty() &&
        isSubtree(name)) {
      skip = open.back().leftOut.insert(name).second;
    }
    if (!skip) {
      switch (kind) {
        case XmlNodeKind::kElement:
          out += '<';
          out += name;
          for (const auto& [attribute, value] : node->Attributes()) {
            out += ' ';
            out += attribute;
            out += "=\"";
            AppendEscaped(value, &out);
            out += '"';
          }
          out += '>';
          break;
        case XmlNodeKind::kText:
          if (!IsBlank(*node)) AppendEscaped(node->Value(), &out);
          break;
        case XmlNodeKind::kComment:
          out += "<!--";
          AppendEscaped(node->Value(), &out);
          out += "-->";
          break;
        case XmlNodeKind::kInstruction:
          out += "<?";
          out += node->Name();
          out += ' ';
          AppendEscaped(node->Value(), &out);
          out += "?>";
          break;
        case XmlNodeKind::kOther:
          break;
      }
      if (element || kind == XmlNodeKind::kOther) {
        if (std::unique_ptr<XmlDomNode> child = node->FirstChild()) {
          open.push_back(Open{std::move(node), name, {}});
          node = std::move(child);
          entered = true;
        } else if (element) {
          out += "</" + name + ">";
        }
      }
    }
    if (entered) continue;
    // On to the next node, closing every element that is done.
    for (;;) {
      if (open.empty()) return out;
      if (std::unique_ptr<XmlDomNode> next = node->NextSibling()) {
        node = std::move(next);
        break;
      }
      node = std::move(open.back().node);
      if (!open.back().name.empty()) out += "</" + open.back().name + ">";
      open.pop_back();
    }
  }
}

std::string There(const std::string& canonical) { return kThere + canonical; }

std::unique_ptr<XmlDomNode> RootElement(XmlDomDocument& document, std::string* name) {
  for (auto& [childName, child] : document.DocumentNode()->ChildElements()) {
    *name = childName;
    return std::move(child);
  }
  return nullptr;
}

}  // namespace

bool IsThere(const std::string& content) { return !content.empty() && content[0] == kThere; }

bool IsConnectionName(const std::string& name) { return IsNumbered(name, "comm", 4); }
bool IsCameraName(const std::string& name) { return IsNumbered(name, "cam", 3); }

Place PlaceOf(const std::string& path) {
  Place place;
  std::vector<std::string> steps;
  for (size_t begin = 0; begin <= path.size();) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    steps.push_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  // Conditions on the last step do not change where the element is.
  std::string& last = steps.back();
  const size_t condition = last.find('[');
  if (condition != std::string::npos && last.back() == ']') last.erase(condition);
  for (const std::string& step : steps)
    if (!IsXmlName(step) || step.find(':') != std::string::npos) return place;
  place.plain = true;
  if (steps.size() == 1) {
    place.wholeDocument = true;
    return place;
  }
  if (!IsConnectionName(steps[1])) return place;
  place.connection = steps[1];
  place.subtree = steps[1];
  if (steps.size() == 2) {
    place.wholeConnection = true;
  } else if (IsCameraName(steps[2])) {
    place.subtree += "/" + steps[2];
  }
  return place;
}

std::string Content(XmlDomDocument& document, const std::string& subtree) {
  std::string rootName;
  std::unique_ptr<XmlDomNode> root = RootElement(document, &rootName);
  if (subtree.empty()) {
    return document.DocumentNode() ? Canonical(*document.DocumentNode(), 2, IsConnectionName)
                                   : std::string();
  }
  const size_t slash = subtree.find('/');
  if (slash == std::string::npos) {
    if (!root) return std::string();
    std::unique_ptr<XmlDomNode> connection = document.SelectSingleNode(rootName + "/" + subtree);
    return connection ? There(Canonical(*connection, 1, IsCameraName)) : std::string();
  }
  if (!root || !document.SelectSingleNode(rootName + "/" + subtree.substr(0, slash)))
    return kNoConnection;
  std::unique_ptr<XmlDomNode> camera = document.SelectSingleNode(rootName + "/" + subtree);
  return camera ? There(Canonical(*camera, 0, nullptr)) : std::string();
}

bool ConnectionIsThere(XmlDomDocument& document, const std::string& connection) {
  std::string rootName;
  if (connection.empty() || !RootElement(document, &rootName)) return false;
  return document.SelectSingleNode(rootName + "/" + connection) != nullptr;
}

std::map<std::string, std::string> Contents(XmlDomDocument& document) {
  std::map<std::string, std::string> contents;
  contents[""] = Canonical(*document.DocumentNode(), 2, IsConnectionName);
  std::string rootName;
  std::unique_ptr<XmlDomNode> root = RootElement(document, &rootName);
  if (!root) return contents;
  for (auto& [name, connection] : root->ChildElements()) {
    if (!IsConnectionName(name) || contents.count(name) != 0) continue;
    contents[name] = There(Canonical(*connection, 1, IsCameraName));
    for (auto& [cameraName, camera] : connection->ChildElements()) {
      const std::string subtree = name + "/" + cameraName;
      if (!IsCameraName(cameraName) || contents.count(subtree) != 0) continue;
      contents[subtree] = There(Canonical(*camera, 0, nullptr));
    }
  }
  return contents;
}

std::string ContentIn(const std::map<std::string, std::string>& contents,
                      const std::string& subtree) {
  auto found = contents.find(subtree);
  if (found != contents.end()) return found->second;
  const size_t slash = subtree.find('/');
  if (slash == std::string::npos) return std::string();
  return contents.count(subtree.substr(0, slash)) != 0 ? std::string() : kNoConnection;
}

std::vector<std::string> CamerasOf(XmlDomDocument& document, const std::string& connection) {
  std::vector<std::string> cameras;
  std::string rootName;
  if (!RootElement(document, &rootName)) return cameras;
  std::unique_ptr<XmlDomNode> node = document.SelectSingleNode(rootName + "/" + connection);
  if (!node) return cameras;
  std::unordered_set<std::string> seen;
  for (auto& child : node->ChildElements())
    if (IsCameraName(child.first) && seen.insert(child.first).second)
      cameras.push_back(connection + "/" + child.first);
  return cameras;
}

}  // namespace subtrees
