// CXMLSettingsAPI: the driver's key/value store over one XML document,
// mirrored to one file. A key is a path of element names separated by "/",
// starting at the root element ("settings/comm1/cam2/Name"); its value is
// the element's attribute "value". All text is single-byte ISO-8859-1.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
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
  // Other processes may use the same file. Every write holds a lock on the
  // file shared by all processes and replaces the file only when it still
  // holds what this store last read or wrote; when another process has
  // changed it since, nothing is written, one line is logged and the change
  // raises SettingsError. The change stays in this store's document only.
  int32_t OpenDocument(const std::string& fileName, int autoSave, int initCom);
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
  bool ResolvePath(const std::string& fileName, std::string* path) const;
  std::unique_ptr<XmlDomNode> Select(const std::string& path);
  int CreateKeyLocked(const std::string& path);
  int SaveIfAutoSave();
  void EndBatch(bool failing);
  void WriteOwnFile();

  std::atomic<int> OpenCounter{0};
  int InitCom = 1;
  int AutoSave = 0;
  mutable COptex OpenLock{4000};
  std::unique_ptr<XmlDomDocument> Document;
  std::string FilePathText;
  // The file's content as this store last read or wrote it; the file is
  // replaced only while it still holds this.
  std::string FileBytes;
  mutable COptex DocumentLock{4000};
  int BatchDepth = 0;  // under DocumentLock
  bool BatchChanged = false;
};
