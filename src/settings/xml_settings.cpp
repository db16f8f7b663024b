#include "settings/xml_settings.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "driver/log.h"
#include "platform/file_ops.h"
#include "platform/module_path.h"
#include "settings/dom.h"
#include "settings/subtrees.h"

namespace {

const char kDeclarationTarget[] = "xml";
const char kDeclarationData[] = "version='1.0' encoding='iso-8859-1'";
const char kValueAttribute[] = "value";

// The path, cut to kMaxKeyPath characters; a path that fits is not copied.
class CutPath {
 public:
  explicit CutPath(const std::string& path) : Path(path) {
    if (path.size() > kMaxKeyPath) Cut = path.substr(0, kMaxKeyPath);
  }
  operator const std::string&() const { return Path.size() > kMaxKeyPath ? Cut : Path; }

 private:
  const std::string& Path;
  std::string Cut;
};

// HRESULT_FROM_WIN32 of a system error (errno values keep their number).
int32_t SystemFailure(uint32_t error) {
  return static_cast<int32_t>(0x80070000u | (error & 0xFFFFu));
}

// Holds the settings file's lock across processes for a scope.
class FileLockGuard {
 public:
  explicit FileLockGuard(const std::string& path) : Lock(platform::LockFile(path)) {}
  ~FileLockGuard() { platform::UnlockFile(Lock); }
  FileLockGuard(const FileLockGuard&) = delete;
  FileLockGuard& operator=(const FileLockGuard&) = delete;

 private:
  platform::FileLock* Lock;
};

// Writes the document to a temporary file beside `path`; *bytes gets what
// was written.
std::string SaveTemporary(XmlDomDocument& document, const std::string& path, std::string* bytes) {
  const std::string temporary = platform::TemporaryFileBeside(path);
  try {
    document.Save(temporary);
  } catch (...) {
    platform::RemoveFile(temporary);
    throw;
  }
  if (bytes != nullptr && !platform::ReadFileBytes(temporary, bytes)) {
    platform::RemoveFile(temporary);
    throw SettingsError("settings file " + path + " not written (temporary file unreadable)",
                        kSettingsFail);
  }
  return temporary;
}

// Moves the finished temporary file over `path`, so that the file is whole
// at every moment.
void ReplaceFile(const std::string& temporary, const std::string& path) {
  const uint32_t error = platform::ReplaceWithTemporaryFile(temporary, path);
  if (error != 0) {
    throw SettingsError(
        "settings file " + path + " not written (error " + std::to_string(error) + ")",
        SystemFailure(error));
  }
}

// Writes a new document to `path`, which nothing carries yet. False, with
// nothing changed, when a file is there after all: a file is never replaced
// by a new empty one, also when the look for it went wrong.
bool WriteNewDocument(XmlDomDocument& document, const std::string& path) {
  const uint32_t error = platform::PlaceTemporaryFile(SaveTemporary(document, path, nullptr), path);
  if (error == platform::kErrorNameTaken) return false;
  if (error != 0) {
    throw SettingsError(
        "settings file " + path + " not written (error " + std::to_string(error) + ")",
        SystemFailure(error));
  }
  return true;
}

// The thread's membership in what the XML component needs, left again on
// every way out.
class ThreadMembership {
 public:
  explicit ThreadMembership(bool wanted) : Joined(false), Result(0) {
    if (wanted) {
      Result = XmlDomEnterThread();
      Joined = Result >= 0;
    }
  }
  ~ThreadMembership() {
    if (Joined) XmlDomLeaveThread();
  }
  ThreadMembership(const ThreadMembership&) = delete;
  ThreadMembership& operator=(const ThreadMembership&) = delete;

  int32_t Failure() const { return Result < 0 ? Result : 0; }
  // Stays joined beyond this object's life.
  void Keep() { Joined = false; }

 private:
  bool Joined;
  int32_t Result;
};

// One condition [@name="value"] of a path's last step.
struct Condition {
  std::string Name;
  std::string Value;
};

// Splits the last step of a path into the element name and its conditions.
// False for a condition without "]", "@", "=" or the quotes around its value.
bool ParseLastStep(const std::string& step, std::string* name, std::vector<Condition>* conditions) {
  const size_t open = step.find('[');
  *name = step.substr(0, open);
  if (open == std::string::npos) return true;
  std::string rest = step.substr(open);
  while (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    const std::string text = rest.substr(1, close - 1);
    rest = rest.substr(close + 1);
    const size_t equals = text.find('=');
    const size_t lastQuote = text.rfind('"');
    if (text.size() < 2 || text[0] != '@' || equals == std::string::npos ||
        equals + 1 >= text.size() || text[equals + 1] != '"' || lastQuote <= equals + 1) {
      return false;
    }
    conditions->push_back(
        Condition{text.substr(1, equals - 1), text.substr(equals + 2, lastQuote - equals - 2)});
  }
  return rest.empty();
}

}  // namespace

SettingsError::SettingsError(const std::string& what, int32_t code)
    : std::runtime_error(what), ErrorCode(code) {}

std::string FormatKey(const char* format, ...) {
  if (format == nullptr) return std::string();
  char buffer[kMaxKeyPath + 1];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  if (n < 0) return std::string();
  return std::string(buffer);
}

CXMLSettingsAPI::CXMLSettingsAPI() = default;

CXMLSettingsAPI::~CXMLSettingsAPI() {
  CloseDocument();
  COptexGuard guard(DocumentLock);
  Document.reset();
}

bool CXMLSettingsAPI::ResolvePath(const std::string& fileName, std::string* path) const {
  std::string directory = Folder;
  if (directory.empty()) {
    std::string program;
    if (!platform::ProgramFileName(&program)) return false;
    const size_t separator = program.rfind(platform::kPathSeparator);
    directory = separator == std::string::npos ? std::string() : program.substr(0, separator + 1);
  } else if (directory.back() != platform::kPathSeparator) {
    directory += platform::kPathSeparator;
  }
  *path = directory + fileName;
  return true;
}

int32_t CXMLSettingsAPI::OpenDocument(const std::string& fileName, int autoSave, int initCom) {
  COptexGuard openGuard(OpenLock);
  if (OpenCounter.load() > 0) {
    OpenCounter.fetch_add(1);
    return kSettingsOk;
  }
  InitCom = initCom;
  std::string path;
  if (!ResolvePath(fileName, &path)) return kSettingsFail;
  platform::RemoveStaleTemporaries(path);
  // A missing, unreadable or empty file is left alone: nothing to open.
  const platform::FileProbe probe = platform::ProbeFile(path);
  if (!probe.readable || probe.size == 0) return kSettingsFail;

  ThreadMembership membership(InitCom != 0);
  if (membership.Failure() != 0) return membership.Failure();
  int32_t error = kSettingsFail;
  std::unique_ptr<XmlDomDocument> document = XmlDomDocument::Create(&error);
  if (!document) return error != 0 ? error : kSettingsFail;
  // A file that does not load is not touched either. No other process
  // replaces it while it is read.
  std::string bytes;
  {
    FileLockGuard fileGuard(path);
    if (!platform::ReadFileBytes(path, &bytes) || bytes.empty()) return kSettingsFail;
  }
  if (!document->Load(bytes)) return kSettingsFail;

  {
    COptexGuard documentGuard(DocumentLock);
    Document = std::move(document);
    FilePathText = path;
    FileBytes = std::move(bytes);
    AutoSave = autoSave;
    ForgetPending();
    SeenContent.clear();
    Elsewhere.clear();
  }
  membership.Keep();
  OpenCounter.fetch_add(1);
  return kSettingsOk;
}

int32_t CXMLSettingsAPI::ReadAgain(const std::string& rootName) {
  COptexGuard openGuard(OpenLock);
  if (OpenCounter.load() == 0) return kSettingsFail;
  COptexGuard documentGuard(DocumentLock);
  if (!Document) return kSettingsFail;
  const std::string path = FilePathText;
  platform::RemoveStaleTemporaries(path);
  if (!platform::ProbeFile(path).exists) {
    ThreadMembership membership(InitCom != 0);
    int32_t error = 0;
    std::unique_ptr<XmlDomDocument> fresh = XmlDomDocument::Create(&error);
    if (!fresh) return kSettingsFail;
    std::unique_ptr<XmlDomNode> top = fresh->DocumentNode();
    fresh->AppendProcessingInstruction(*top, kDeclarationTarget, kDeclarationData);
    fresh->AppendElement(*top, rootName);
    WriteNewDocument(*fresh, path);
  }
  std::string bytes;
  {
    FileLockGuard fileGuard(path);
    if (!platform::ReadFileBytes(path, &bytes)) bytes.clear();
  }
  ForgetPending();
  SeenContent.clear();
  Elsewhere.clear();
  if (bytes.empty() || !Document->Load(bytes)) {
    // Every write is refused now: the file on disk differs from what this
    // store holds, and does not load.
    FileBytes.clear();
    return kSettingsFail;
  }
  FileBytes = std::move(bytes);
  return kSettingsOk;
}

int CXMLSettingsAPI::CloseDocument() {
  COptexGuard openGuard(OpenLock);
  if (OpenCounter.load() > 0 && OpenCounter.fetch_sub(1) == 1) {
    {
      COptexGuard documentGuard(DocumentLock);
      Document.reset();
    }
    if (InitCom != 0) XmlDomLeaveThread();
  }
  return OpenCounter.load();
}

int CXMLSettingsAPI::CreateDocument(const std::string& fileName, const std::string& rootName,
                                    int initCom) {
  COptexGuard openGuard(OpenLock);
  if (OpenCounter.load() != 0) return 0;
  std::string path;
  if (!ResolvePath(fileName, &path)) return -1;
  if (platform::ProbeFile(path).exists) return 0;

  ThreadMembership membership(initCom != 0);
  if (membership.Failure() != 0) return -1;
  int32_t error = 0;
  std::unique_ptr<XmlDomDocument> document = XmlDomDocument::Create(&error);
  if (!document) return -1;
  std::unique_ptr<XmlDomNode> top = document->DocumentNode();
  document->AppendProcessingInstruction(*top, kDeclarationTarget, kDeclarationData);
  document->AppendElement(*top, rootName);
  return WriteNewDocument(*document, path) ? 1 : 0;
}

std::string CXMLSettingsAPI::FilePath() const {
  COptexGuard guard(DocumentLock);
  return FilePathText;
}

std::unique_ptr<XmlDomNode> CXMLSettingsAPI::Select(const std::string& path) {
  return Document->SelectSingleNode(path);
}

// ---------------------------------------------------------------- several processes

void CXMLSettingsAPI::ForgetPending() {
  Pending.clear();
  PendingBefore.clear();
  PendingEverything = false;
  PendingConnections.clear();
}

void CXMLSettingsAPI::MarkPending(const std::string& subtree) {
  if (PendingBefore.count(subtree) == 0)
    PendingBefore.emplace(subtree, subtrees::Content(*Document, subtree));
}

// Runs with DocumentLock held, before the change is made.
void CXMLSettingsAPI::Record(Change change) {
  if (AutoSave == 0) return;
  const subtrees::Place place = subtrees::PlaceOf(change.path);
  const bool deleting = change.kind == Change::Kind::kDelete;
  if (!place.plain || (deleting && place.wholeDocument)) {
    PendingEverything = true;
  } else {
    MarkPending(place.subtree);
    // A camera put into a connection that is not there makes the
    // connection's element too.
    if (!deleting && place.subtree != place.connection &&
        PendingBefore.count(place.connection) == 0 &&
        !subtrees::ConnectionIsThere(*Document, place.connection)) {
      MarkPending(place.connection);
    }
    if (deleting && place.wholeConnection) {
      for (const std::string& camera : subtrees::CamerasOf(*Document, place.connection))
        MarkPending(camera);
      PendingConnections.insert(place.connection);
    }
  }
  Pending.push_back(std::move(change));
}

std::string CXMLSettingsAPI::Seen(const std::string& subtree) const {
  auto seen = SeenContent.find(subtree);
  if (seen != SeenContent.end()) return seen->second;
  auto before = PendingBefore.find(subtree);
  return before != PendingBefore.end() ? before->second : std::string();
}

void CXMLSettingsAPI::Note(const std::string& subtree, const std::string& seen,
                           const std::string& now) {
  if (now == seen) {
    SeenContent.erase(subtree);
    Elsewhere.erase(subtree);
  } else {
    SeenContent[subtree] = seen;
    Elsewhere.insert(subtree);
  }
}

// Runs with DocumentLock and the file's lock held, outside a change.
bool CXMLSettingsAPI::TakeIn(const std::string& bytes,
                             const std::map<std::string, std::string>& before) {
  if (!Document->Load(bytes)) {
    Document->Load(FileBytes);
    return false;
  }
  const std::map<std::string, std::string> now = subtrees::Contents(*Document);
  std::set<std::string> names;
  for (const auto& entry : before) names.insert(entry.first);
  for (const auto& entry : now) names.insert(entry.first);
  for (const std::string& subtree : names) {
    if (PendingBefore.count(subtree) != 0) continue;
    auto seen = SeenContent.find(subtree);
    Note(subtree, seen != SeenContent.end() ? seen->second : subtrees::ContentIn(before, subtree),
         subtrees::ContentIn(now, subtree));
  }
  FileBytes = bytes;
  return true;
}

bool CXMLSettingsAPI::ChangedElsewhere(const std::string& subtree) {
  if (OpenCounter.load() == 0) return false;
  COptexGuard guard(DocumentLock);
  return Elsewhere.count(subtree) != 0;
}

std::vector<std::string> CXMLSettingsAPI::ChangedElsewhere() {
  if (OpenCounter.load() == 0) return {};
  COptexGuard guard(DocumentLock);
  return std::vector<std::string>(Elsewhere.begin(), Elsewhere.end());
}

void CXMLSettingsAPI::TakeInOtherChanges() {
  if (OpenCounter.load() == 0) return;
  COptexGuard guard(DocumentLock);
  if (!Document || BatchDepth > 0 || !Pending.empty()) return;
  FileLockGuard fileGuard(FilePathText);
  std::string onDisk;
  if (!platform::ReadFileBytes(FilePathText, &onDisk) || onDisk == FileBytes) return;
  TakeIn(onDisk, subtrees::Contents(*Document));
}

void CXMLSettingsAPI::Refuse(const std::string& why) {
  VRT_LOG_LINE("DRV.Settings: %s; change not saved.\n", why.c_str());
  throw SettingsError("settings file " + FilePathText + ": " + why, kSettingsFail);
}

// Runs with DocumentLock held.
void CXMLSettingsAPI::WriteOwnFile() {
  FileLockGuard fileGuard(FilePathText);
  std::string onDisk;
  // A file that is gone holds nothing of anyone's: it is written anew.
  const bool readable = platform::ReadFileBytes(FilePathText, &onDisk);
  const bool replaced = readable && onDisk != FileBytes;
  // What the disk holds now in the subtrees the changes fall in.
  std::map<std::string, std::string> disk = PendingBefore;
  if (replaced) {
    // Another process saved meanwhile: its content comes in, and this
    // write's changes are made to it.
    std::map<std::string, std::string> before = subtrees::Contents(*Document);
    const std::vector<Change> changes = Pending;
    if (!TakeIn(onDisk, before)) {
      ForgetPending();
      VRT_LOG_LINE("DRV.Settings: %s does not load any more; change not saved.\n",
                   FilePathText.c_str());
      throw SettingsError("settings file " + FilePathText + " does not load", kSettingsFail);
    }
    // Deleting a connection deletes the cameras another process put in it.
    for (const std::string& connection : PendingConnections)
      for (const std::string& camera : subtrees::CamerasOf(*Document, connection))
        if (PendingBefore.count(camera) == 0)
          PendingBefore.emplace(camera, subtrees::ContentIn(before, camera));
    for (auto& [subtree, content] : disk) content = subtrees::Content(*Document, subtree);
    for (const auto& entry : PendingBefore)
      if (disk.count(entry.first) == 0)
        disk.emplace(entry.first, subtrees::Content(*Document, entry.first));
    for (const Change& change : changes) {
      switch (change.kind) {
        case Change::Kind::kSet:
          SetValueLocked(change.value, change.path);
          break;
        case Change::Kind::kCreate:
          CreateKeyLocked(change.path);
          break;
        case Change::Kind::kDelete:
          DeleteKeyLocked(change.path);
          break;
      }
    }
  }

  // Each subtree the write changes must hold on disk what this store last
  // read or wrote there, or already what is written now.
  bool conflicting = false;
  std::string conflict;
  std::vector<std::string> cameras;
  for (const auto& [subtree, now] : disk) {
    const std::string after = subtrees::Content(*Document, subtree);
    if (!conflicting && now != Seen(subtree) && now != after) {
      conflicting = true;
      conflict = subtree;
    }
    if (subtree.find('/') != std::string::npos && subtrees::IsThere(after))
      cameras.push_back(subtree);
  }
  // A change no subtree holds may change any.
  if (PendingEverything && !conflicting && (replaced || !Elsewhere.empty())) {
    conflicting = true;
    if (!replaced) conflict = *Elsewhere.begin();
  }
  std::string why;
  if (conflicting) {
    std::string named = DescribeSubtree ? DescribeSubtree(conflict) : std::string();
    if (named.empty()) named = conflict.empty() ? "The document" : "Key " + conflict;
    why = named + " in " + FilePathText +
          " was changed by another process since this one read it (restart the module to load "
          "the other process's changes)";
  } else if (WriteRule) {
    why = WriteRule(cameras);
  }
  if (!why.empty()) {
    // The document takes the disk's content again; the subtrees stay
    // refused where the disk differs from what this store knows.
    Document->Load(readable ? onDisk : FileBytes);
    if (readable) FileBytes = onDisk;
    for (const auto& [subtree, now] : disk) Note(subtree, Seen(subtree), now);
    ForgetPending();
    Refuse(why);
  }

  std::string bytes;
  const std::string temporary = SaveTemporary(*Document, FilePathText, &bytes);
  if (replaced && bytes == onDisk) {
    // Another process made the very same change (two hosts starting on one
    // file write the same default keys): nothing to write.
    platform::RemoveFile(temporary);
  } else {
    ReplaceFile(temporary, FilePathText);
  }
  FileBytes = std::move(bytes);
  for (const auto& entry : disk) {
    SeenContent.erase(entry.first);
    Elsewhere.erase(entry.first);
  }
  ForgetPending();
}

int CXMLSettingsAPI::SaveIfAutoSave() {
  if (AutoSave == 0) return 1;
  if (BatchDepth > 0) {
    BatchChanged = true;
    return 1;
  }
  WriteOwnFile();
  return 1;
}

void CXMLSettingsAPI::EndBatch(bool failing) {
  if (--BatchDepth > 0 || !BatchChanged) return;
  BatchChanged = false;
  if (!Document || AutoSave == 0) return;
  if (!failing) {
    WriteOwnFile();
    return;
  }
  // Keep what was changed before the failure, but report the failure.
  try {
    WriteOwnFile();
  } catch (const SettingsError&) {
  }
}

// ---------------------------------------------------------------- keys

std::vector<std::string> CXMLSettingsAPI::ChildKeys(const std::string& path) {
  const CutPath cut(path);
  const std::string& key = cut;
  if (OpenCounter.load() == 0) return {};
  COptexGuard guard(DocumentLock);
  if (!Document) return {};
  std::unique_ptr<XmlDomNode> node = Select(key);
  if (!node) return {};
  return node->ChildElementNames();
}

std::vector<std::string> CXMLSettingsAPI::CamerasOf(const std::string& connection) {
  if (OpenCounter.load() == 0) return {};
  COptexGuard guard(DocumentLock);
  if (!Document) return {};
  return subtrees::CamerasOf(*Document, connection);
}

int CXMLSettingsAPI::KeyExists(const std::string& path) {
  const CutPath cut(path);
  const std::string& key = cut;
  if (OpenCounter.load() == 0) return 0;
  COptexGuard guard(DocumentLock);
  if (!Document) return 0;
  std::string value;
  return Document->ReadAttribute(key, kValueAttribute, &value) ? 1 : 0;
}

std::string CXMLSettingsAPI::GetValue(const std::string& path) {
  std::string value;
  const CutPath cut(path);
  const std::string& key = cut;
  if (OpenCounter.load() == 0) return value;
  COptexGuard guard(DocumentLock);
  if (!Document) return value;
  Document->ReadAttribute(key, kValueAttribute, &value);
  return value;
}

int CXMLSettingsAPI::DeleteKey(const std::string& path) {
  const CutPath cut(path);
  const std::string& key = cut;
  if (OpenCounter.load() == 0) return 0;
  COptexGuard guard(DocumentLock);
  if (!Document) return 0;
  {
    std::unique_ptr<XmlDomNode> node = Select(key);
    if (!node || !node->Parent()) return 0;
  }
  Record(Change{Change::Kind::kDelete, key, std::string()});
  if (DeleteKeyLocked(key) == 0) return 0;
  return SaveIfAutoSave();
}

int CXMLSettingsAPI::DeleteKeyLocked(const std::string& path) {
  std::unique_ptr<XmlDomNode> node = Select(path);
  if (!node) return 0;
  std::unique_ptr<XmlDomNode> parent = node->Parent();
  if (!parent) return 0;
  // The whitespace that laid out the key's line goes with it, or every key
  // made and deleted again would leave a blank line behind: of the
  // whitespace text right before and after the key, what comes before the
  // last line end (which indents whatever follows) is removed.
  std::vector<std::unique_ptr<XmlDomNode>> blanks;
  size_t keep = 0;
  bool found = false;
  auto add = [&](std::unique_ptr<XmlDomNode> text, bool lineEnd) {
    blanks.push_back(std::move(text));
    if (lineEnd) {
      keep = blanks.size() - 1;
      found = true;
    }
  };
  std::vector<std::pair<std::unique_ptr<XmlDomNode>, bool>> before;
  bool lineEnd = false;
  for (auto at = node->PreviousSibling(); at && at->IsWhitespaceText(&lineEnd);) {
    auto next = at->PreviousSibling();
    before.emplace_back(std::move(at), lineEnd);
    at = std::move(next);
  }
  for (auto it = before.rbegin(); it != before.rend(); ++it) add(std::move(it->first), it->second);
  for (auto at = node->NextSibling(); at && at->IsWhitespaceText(&lineEnd);) {
    auto next = at->NextSibling();
    add(std::move(at), lineEnd);
    at = std::move(next);
  }
  if (!Document->RemoveChild(*parent, *node)) return 0;
  if (found) {
    for (size_t i = 0; i < keep; ++i) Document->RemoveChild(*parent, *blanks[i]);
  }
  return 1;
}

int CXMLSettingsAPI::CreateKey(const std::string& path) {
  const CutPath cut(path);
  const std::string& key = cut;
  if (OpenCounter.load() == 0) return 0;
  COptexGuard guard(DocumentLock);
  if (!Document) return 0;
  try {
    if (Select(key)) return 1;
  } catch (const SettingsError&) {
    // A path the component cannot look up yet counts as no match.
  }
  Record(Change{Change::Kind::kCreate, key, std::string()});
  if (CreateKeyLocked(key) == 0) return 0;
  return SaveIfAutoSave();
}

// Runs with DocumentLock held, across its own recursion for the missing
// keys above. 1 when the key is there afterwards.
int CXMLSettingsAPI::CreateKeyLocked(const std::string& path) {
  try {
    if (Select(path)) return 1;
  } catch (const SettingsError&) {
    // A path the component cannot look up yet counts as no match.
  }
  const size_t slash = path.rfind('/');
  // The root element is made only by CreateDocument.
  if (slash == std::string::npos) return 0;
  const std::string parentPath = path.substr(0, slash);
  std::string name;
  std::vector<Condition> conditions;
  if (!ParseLastStep(path.substr(slash + 1), &name, &conditions)) return 0;

  std::unique_ptr<XmlDomNode> parent = Select(parentPath);
  if (!parent) {
    CreateKeyLocked(parentPath);
    parent = Select(parentPath);
    if (!parent) return 0;
  }

  // Depth: the nodes from the parent up to the document node, both counted
  // (2 below the root element), which is the new element's depth.
  size_t depth = 1;
  for (std::unique_ptr<XmlDomNode> up = parent->Parent(); up; up = up->Parent()) ++depth;
  // A file nested deeper would not open again.
  if (depth > kMaxElementDepth) return 0;
  std::unique_ptr<XmlDomNode> element = Document->AppendElement(*parent, name);
  if (!element) return 0;
  const std::string outerTabs(depth > 2 ? depth - 2 : 0, '\t');
  Document->InsertTextBefore(*parent, *element, outerTabs);
  Document->AppendText(*element, "\n" + std::string(depth - 1, '\t'));
  Document->AppendText(*parent, "\n" + outerTabs);

  for (const Condition& condition : conditions) {
    element->AddAttribute(condition.Name, condition.Value);
  }
  return 1;
}

int CXMLSettingsAPI::SetValue(const std::string& value, const std::string& path) {
  const CutPath cut(path);
  const std::string& key = cut;
  if (OpenCounter.load() == 0) return 0;
  COptexGuard guard(DocumentLock);
  if (!Document) return 0;
  Record(Change{Change::Kind::kSet, key, value});
  if (SetValueLocked(value, key) == 0) return 0;
  return SaveIfAutoSave();
}

int CXMLSettingsAPI::SetValueLocked(const std::string& value, const std::string& path) {
  std::unique_ptr<XmlDomNode> node = Select(path);
  if (!node) {
    if (CreateKeyLocked(path) == 0) return 0;
    node = Select(path);
    if (!node) return 0;
  }
  std::string current;
  node->GetAttribute(kValueAttribute, &current);
  // An empty attribute is replaced by a new one of the same name.
  const bool written = !current.empty() ? node->SetAttribute(kValueAttribute, value)
                                        : node->AddAttribute(kValueAttribute, value);
  return written ? 1 : 0;
}
