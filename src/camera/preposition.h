// One preset: a camera position stored in the dome's memory under a storage
// location, known to the host by its list position and its name.
#pragma once

#include <cstdint>
#include <string>

class CVRTPrePosition {
 public:
  std::string KeyPath;  // camera key path + "/positions/PrePos<n>"
  int32_t ID = -1;      // list position as of the last lookup
  int32_t MemId = 0;    // storage location in the dome (low byte significant)
  std::string Name;
  int32_t Active = 0;  // 1 while the camera stands at this preset

  // Reads "/Name", "/ID" and "/MemId" below the key path; 1.
  int Load(const std::string& keyPath);
  // Writes them below the given path, or below KeyPath when none is given;
  // -3 when neither exists.
  int Save(const std::string& keyPath = std::string());
};
