// A scratch directory and file helpers for the settings store's tests.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace settings_test {

class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/q7settings-XXXXXX";
    const char* made = mkdtemp(pattern);
    Path = made != nullptr ? made : "";
  }
  ~ScratchDir() {
    for (const std::string& name : Entries()) unlink((Path + "/" + name).c_str());
    rmdir(Path.c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string File(const std::string& name) const { return Path + "/" + name; }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    DIR* dir = opendir(Path.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
  }

  std::string Path;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Changes whenever the store writes the file (it renames a new file over
// the old one).
inline ino_t Inode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

constexpr char kDeclaration[] = "<?xml version='1.0' encoding='iso-8859-1'?>\n";

}  // namespace settings_test
