// CXMLSettingsAPI: the driver's key/value store over one XML document,
// mirrored to one file. A key is a path of element names separated by "/",
// starting at the root element ("settings/comm1/cam2/Name"); its value is
// the element's attribute "value". All text is single-byte ISO-8859-1.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/optex.h"

class XmlDomDocument;
class XmlDomNode;

// A failure of the XML component or of writing the settings file. The key
// operations let it pass; the entry points catch it and answer -22.
class SettingsError : public std::runtime_error {
 public:
  SettingsError(const std::string& what, int32_t code);
  int32_t Code() const { return ErrorCode; }

 private:
  int32_t ErrorCode;
};

constexpr int32_t kSettingsOk = 0;
constexpr int32_t kSettingsFail = static_cast<int32_t>(0x80004005);  // E_FAIL

// Longest key path the store uses; longer ones are cut.
constexpr size_t kMaxKeyPath = 1023;

// Deepest nesting of elements in a settings file (the root element is at
// depth 1; the driver's own keys go 6 deep). A file nested deeper is not
// opened, and no key is made deeper.
constexpr size_t kMaxElementDepth = 256;

// The driver's own key paths, formatted like printf and cut to 1023
// characters. Nothing that comes from the host or from the file is ever
// used as the format.
std::string FormatKey(const char* format, ...) __attribute__((format(printf, 1, 2)));

class CXMLSettingsAPI {
 public:
  CXMLSettingsAPI();
  // Closes the document once.
  virtual ~CXMLSettingsAPI();

  CXMLSettingsAPI(const CXMLSettingsAPI&) = delete;
  CXMLSettingsAPI& operator=(const CXMLSettingsAPI&) = delete;

  // Directory of the settings file, set by the owner before the document is
  // created or opened; empty means the directory of the running program.
  std::string Folder;

  // Opens fileName in Folder. Only the first call reads the file; later ones
  // count. kSettingsOk; kSettingsFail when the file is missing, empty, not
  // well-formed, nested deeper than kMaxElementDepth or not in the encoding
  // it declares (the file is left as it is); or the failure code of the XML
  // component. With autoSave every change rewrites the file before it
  // returns. initCom: join COM for the time the document is open (Windows).
  // The first open also removes temporary files that saves of processes no
  // longer running left beside the file.
  //
  // Other processes may save into the same file, each its own subtrees of
  // it (settings/subtrees.h: a camera; a connection's own keys; the
  // document's own). A change falls in the subtree of its key; creating a
  // connection's element to put a camera in it also falls in that
  // connection's, and deleting a connection's element in the connection's
  // and every camera's below it (so deleting and renumbering cameras answers
  // for every camera it moves). Blanks and line ends count for nothing.
  //
  // Every write holds a lock on the file shared by all processes. When
  // another process replaced the file since this store last read or wrote
  // it, the file's content is read and the write's changes are made to it:
  // every subtree the write does not change stays as the disk has it. Each
  // subtree the write changes must hold on disk what this store last read or
  // wrote there (nothing, for one it never saw: a new camera or connection
  // whose key another process took meanwhile), or already exactly what the
  // write puts there. Otherwise nothing is written, one line naming the
  // subtree is logged (DescribeSubtree), the store's document takes the
  // disk's content, and the change raises SettingsError. From then on a
  // write to that subtree is refused, whether or not the disk has changed
  // again: what this process holds of it in memory is older than the file
  // (it may read the file afresh, ReadAgain, once nothing it loaded is in
  // use). Last, the owner's WriteRule may refuse the write in the same way.
  int32_t OpenDocument(const std::string& fileName, int autoSave, int initCom);
  // Reads the open document's file afresh, as the first open did, and
  // forgets what this store knew of the last read: for an owner that has
  // nothing loaded from it in use any more. A missing file is made anew
  // with the empty root element rootName. kSettingsOk; kSettingsFail (the
  // file stays as it is, and every write is refused until it can be read)
  // when the store is closed or the file is empty or does not load.
  int32_t ReadAgain(const std::string& rootName);
  // Takes in what other processes saved since this store last read or
  // wrote the file, as a write would (outside a Batch only; a file that does
  // not load is left alone).
  void TakeInOtherChanges();
  // Whether another process changed the subtree ("comm1/cam2") since this
  // store last read or wrote it.
  bool ChangedElsewhere(const std::string& subtree);
  // Every subtree another process changed since this store last read or
  // wrote it.
  std::vector<std::string> ChangedElsewhere();

  // The owner's rule for what a write may bring into the file, asked under
  // the file's lock with the document as it is about to be written and the
  // cameras ("comm1/cam2") the write changes; the key operations read the
  // document meanwhile. A text refuses the write and is logged.
  std::function<std::string(const std::vector<std::string>& cameras)> WriteRule;
  // The subtree as the log names it when a write is refused ("camera 3
  // ('Gate')"); the key operations read this store's document meanwhile. The
  // subtree's path when unset or empty.
  std::function<std::string(const std::string& subtree)> DescribeSubtree;
  // Undoes one OpenDocument; the document closes at 0. Returns the count
  // left.
  int CloseDocument();
  // Writes a new file fileName in Folder holding the declaration and the
  // empty root element rootName. 1 written; 0 nothing done because the store
  // is open or because something exists at that path already (an existing
  // file, even an unreadable one, is never replaced); -1 the XML component
  // is not available. A file that cannot be written throws SettingsError.
  int CreateDocument(const std::string& fileName, const std::string& rootName, int initCom);

  // Key operations. Paths are finished paths, cut to 1023 characters. While
  // the store is closed they change nothing and answer 0 or "". A path the
  // XML component cannot evaluate, or a failing save, throws SettingsError.

  // 1 when an element matches the path, else 0.
  int KeyExists(const std::string& path);
  // The key's "value" attribute; "" when there is no such key or attribute.
  std::string GetValue(const std::string& path);
  // Sets the key's "value" attribute, creating the key when it is missing.
  // 1 done (and saved); 0 when closed or the key cannot be created.
  int SetValue(const std::string& value, const std::string& path);
  // Creates the key and the missing keys above it, each with the whitespace
  // that indents the file. The last step may carry conditions
  // [@name="value"] that become attributes of the new element. 1 when the key
  // exists afterwards (the file is written only when something was made); 0
  // when closed or the key cannot be made.
  int CreateKey(const std::string& path);
  // Removes the key with everything below it (the whitespace around it
  // stays). 1 removed (and saved); 0 when closed or there is no such key.
  int DeleteKey(const std::string& path);

  // Names of the keys directly below the path, in document order; empty
  // when closed or there is no such key.
  std::vector<std::string> ChildKeys(const std::string& path);
  // The cameras of the connection ("comm1") in the document, as
  // subtrees ("comm1/cam1", ...); empty when closed.
  std::vector<std::string> CamerasOf(const std::string& connection);

  // Runs work as one change of the file: the changes it makes are written
  // together when it ends (also when it throws), instead of once each. Other
  // threads' key operations wait until then, so no change of theirs is kept
  // back. Work must not wait for anything that may need the store.
  template <typename Work>
  void Batch(Work&& work) {
    COptexGuard guard(DocumentLock);
    ++BatchDepth;
    try {
      work();
    } catch (...) {
      EndBatch(true);
      throw;
    }
    EndBatch(false);
  }

  int OpenCount() const { return OpenCounter.load(); }
  // Full path of the open file; "" before the first successful open.
  std::string FilePath() const;

 private:
  // A key operation not yet in the file.
  struct Change {
    enum class Kind { kSet, kCreate, kDelete } kind;
    std::string path;
    std::string value;
  };

  bool ResolvePath(const std::string& fileName, std::string* path) const;
  std::unique_ptr<XmlDomNode> Select(const std::string& path);
  // The key operations on the document, under DocumentLock, without saving.
  int CreateKeyLocked(const std::string& path);
  int SetValueLocked(const std::string& value, const std::string& path);
  int DeleteKeyLocked(const std::string& path);
  // Records the change, about to be made, as one the next write answers for.
  void Record(Change change);
  void MarkPending(const std::string& subtree);
  int SaveIfAutoSave();
  void EndBatch(bool failing);
  void WriteOwnFile();
  // The document takes the disk's bytes (a file that does not load leaves
  // it as it was); before: the subtrees' contents as the document held them.
  bool TakeIn(const std::string& bytes, const std::map<std::string, std::string>& before);
  // The subtree now holds `now` in the document, where this store last read
  // or wrote `seen`.
  void Note(const std::string& subtree, const std::string& seen, const std::string& now);
  // What this store last read or wrote in a subtree it changes now.
  std::string Seen(const std::string& subtree) const;
  [[noreturn]] void Refuse(const std::string& why);
  void ForgetPending();

  std::atomic<int> OpenCounter{0};
  int InitCom = 1;
  int AutoSave = 0;
  mutable COptex OpenLock{4000};
  std::unique_ptr<XmlDomDocument> Document;
  std::string FilePathText;
  // The file's content as this store last read or wrote it.
  std::string FileBytes;
  mutable COptex DocumentLock{4000};
  int BatchDepth = 0;  // under DocumentLock
  bool BatchChanged = false;
  // Under DocumentLock: the changes the next write answers for, in order;
  // the contents of their subtrees before the first of them; whether one
  // cannot be placed in a subtree (it answers for all); the connections whose
  // element one deletes.
  std::vector<Change> Pending;
  std::map<std::string, std::string> PendingBefore;
  bool PendingEverything = false;
  std::set<std::string> PendingConnections;
  // What this store last read or wrote in a subtree whose content in the
  // document differs from it (a subtree without an entry holds it), and the
  // subtrees another process changed since.
  std::map<std::string, std::string> SeenContent;
  std::set<std::string> Elsewhere;
};
