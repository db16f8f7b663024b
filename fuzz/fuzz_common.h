// What the deep fuzz targets share: a directory of their own for the log
// and the ports, the settings file beside the program (the driver is linked
// into it, so that is the library's directory), a module end that also
// drops the settings document (as unloading the library does), a text form
// of the configuration the driver holds, and the failures they report.
#pragma once

#include <cstdint>
#include <string>

namespace q7fuzz {

// A fresh directory under $TMPDIR (or /tmp), removed when the program ends.
const std::string& WorkDir();
// The settings file the driver reads: QUARO7K7_PTZ.xml beside the program.
const std::string& SettingsPath();
// The driver's log in WorkDir().
std::string LogPath();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
void RemoveFile(const std::string& path);

// VRT_CamExitModule, then the settings document closed, so that the next
// VRT_CamInitModule reads the file afresh as a newly loaded library does.
void EndModule();

// Every connection, camera, preset and relay with every value loaded, one
// per line, plus the size of the camera table.
std::string ConfigurationText();

// Prints the message (and the detail, when given) and aborts, so that
// libFuzzer keeps the input as a crash.
[[noreturn]] void Fail(const std::string& message, const std::string& detail = std::string());

// With Q7FUZZ_TRACE set, each call's name, result and time on stderr.
void Trace(const char* what, int result, int64_t ms);

// Milliseconds of a steady clock.
int64_t NowMs();

}  // namespace q7fuzz
