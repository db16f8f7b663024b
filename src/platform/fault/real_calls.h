// The system's own platform operations under the names the fault build
// gives them (FaultInjection.cmake renames them where they are defined), so
// that the wrappers in this directory can take the plain names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/file_ops.h"
#include "platform/serial_device.h"
#include "platform/worker_thread.h"

namespace platform {

FileProbe OsProbeFile(const std::string& path);
bool OsClearReadOnly(const std::string& path);
bool OsReadFileBytes(const std::string& path, std::string* bytes);
bool OsWriteNewFile(const std::string& path, const std::string& bytes);
std::string OsTemporaryFileBeside(const std::string& path);
uint32_t OsReplaceWithTemporaryFile(const std::string& temporary, const std::string& path);
uint32_t OsPlaceTemporaryFile(const std::string& temporary, const std::string& path);
void OsRemoveStaleTemporaries(const std::string& path);
FileLock* OsLockFile(const std::string& path);
void OsUnlockFile(FileLock* lock);
void OsRemoveFile(const std::string& path);

void OsAppendLogText(const std::string& path, const char* text, size_t length);

std::unique_ptr<PeriodicThread> OsStartPeriodicThread(uint32_t periodMs,
                                                      std::function<void()> pass);

// The terminal device (platform/posix/serial_device_posix.h).
std::unique_ptr<SerialDevice> NewPosixSerialDevice();

}  // namespace platform
