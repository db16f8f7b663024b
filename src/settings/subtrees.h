// How the settings file is shared out among the processes that save into
// it (see CXMLSettingsAPI): its subtrees, which subtree a key falls in, and
// what a subtree holds, as text that two subtrees share exactly when they
// hold the same.
//
// A subtree is named by its path below the root element:
//   "comm1/cam2"  a camera: the element cam<m> of a connection, with
//                 everything below it;
//   "comm1"       a connection's own keys: the element comm<n> of the root
//                 element, its attributes and everything below it but its
//                 cameras;
//   ""            the document's own: everything else (the declaration,
//                 comments, the root element itself and the root's keys that
//                 are not connections).
// Connections and cameras are the elements named "comm" or "cam" followed
// by digits; of two siblings of one name, the first is the subtree (the
// one a key path selects) and the second counts with its parent's.
#pragma once

#include <map>
#include <string>
#include <vector>

class XmlDomDocument;

namespace subtrees {

bool IsConnectionName(const std::string& name);
bool IsCameraName(const std::string& name);

// Where a change of the key at `path` (root element first) falls.
struct Place {
  // False for a path that is not child steps of XML names (but for
  // conditions on its last step): such a change answers for every subtree.
  bool plain = false;
  std::string subtree;
  // The connection the subtree is or belongs to ("" for the document's own).
  std::string connection;
  // The path names the connection's element itself (or the root element):
  // deleting it deletes every subtree below.
  bool wholeConnection = false;
  bool wholeDocument = false;
};
Place PlaceOf(const std::string& path);

// What the subtree holds in the document. A subtree that is not there has
// a content of its own: for a camera it tells whether its connection is
// there, so that a camera put into a connection that another process
// removed meanwhile counts as changed there.
std::string Content(XmlDomDocument& document, const std::string& subtree);

// Whether a content is that of a subtree that is there.
bool IsThere(const std::string& content);

// Whether the connection's element ("comm1") is in the document: what
// IsThere(Content(document, connection)) tells, without reading its content.
bool ConnectionIsThere(XmlDomDocument& document, const std::string& connection);

// Every subtree of the document with its content, in one pass.
std::map<std::string, std::string> Contents(XmlDomDocument& document);
// The content of a subtree from Contents(), also of one that is not there.
std::string ContentIn(const std::map<std::string, std::string>& contents,
                      const std::string& subtree);

// The cameras of the connection in the document ("comm1/cam1", ...).
std::vector<std::string> CamerasOf(XmlDomDocument& document, const std::string& connection);

}  // namespace subtrees
