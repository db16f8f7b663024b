// win32-platform-check: the Windows platform layer on its own, where the host
// scenarios do not reach it: the serial device map, the port's error codes,
// the log file's line ends and sharing, and the settings file's operations.
//
//   win32-platform-check <scratch directory> <busy COM number>
//
// The scratch directory must be empty and writable; COM port <busy> must
// lead to something that cannot be opened as a port (Wine: a directory).
// Prints one line per failed check and "N checks, M failed"; exit status 0
// when none failed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_ops.h"
#include "platform/log_file.h"
#include "platform/module_path.h"
#include "platform/serial_device.h"
#include "platform/serial_port_list.h"
#include "platform/tick_clock.h"

namespace {

int gChecks = 0;
int gFailed = 0;

void Check(bool ok, const std::string& what) {
  ++gChecks;
  if (ok) return;
  ++gFailed;
  std::printf("FAILED: %s\n", what.c_str());
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The serial device map as the system keeps it: one value per port, any
// value name, the port's name as data. Rebuilt here, since Wine rebuilds
// it from the machine's own ports whenever it starts.
void CheckPortList() {
  HKEY key = nullptr;
  const LONG status =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                      REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  Check(status == ERROR_SUCCESS, "create the serial device map");
  if (status != ERROR_SUCCESS) return;
  // Whatever the machine has is moved out of the way.
  for (;;) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    RegDeleteValueA(key, name);
  }
  const struct {
    const char* name;
    const char* data;
  } values[] = {{"\\Device\\Serial11", "COM12"}, {"\\Device\\Serial0", "COM3"},
                {"Winachsf0", "com7"},           {"\\Device\\Parallel0", "LPT1"},
                {"\\Device\\Odd", "COM0"},       {"\\Device\\Big", "COM256"},
                {"\\Device\\Twice", "COM3"},     {"\\Device\\Zero", "COM03"}};
  for (const auto& v : values) {
    RegSetValueExA(key, v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data),
                   static_cast<DWORD>(std::strlen(v.data) + 1));
  }
  const DWORD number = 5;
  RegSetValueExA(key, "\\Device\\Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                 sizeof number);
  const std::vector<int> ports = platform::ListSerialPorts();
  Check(ports == (std::vector<int>{3, 7, 12}), "ports from the device map are 3, 7, 12");
  // The port list of the connection setup dialog: every name as the map
  // holds it, in the map's own order, values that hold no text left out.
  std::vector<std::string> inMapOrder;
  for (DWORD i = 0;; ++i) {
    char name[256], data[64];
    DWORD nameLength = sizeof name, dataLength = sizeof data, type = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                      &dataLength) != ERROR_SUCCESS)
      break;
    if (type == REG_SZ) inMapOrder.emplace_back(data);
  }
  Check(inMapOrder.size() == 8, "eight names in the map");
  Check(platform::SerialPortNames() == inMapOrder, "port names in the device map's order");
  RegCloseKey(key);
}

void CheckProbe(int busyPort, int freePort) {
  Check(!platform::ProbePort("250"), "a missing port does not probe");
  Check(!platform::ProbePort(std::to_string(busyPort)), "a port in use does not probe");
  if (freePort > 0) Check(platform::ProbePort(std::to_string(freePort)), "a free port probes");
}

void CheckSerialDevice(int busyPort) {
  std::unique_ptr<platform::SerialDevice> port = platform::SerialDevice::Create();
  Check(port->DevicePath(7) == "\\\\.\\COM7", "device path of COM7");
  Check(port->DevicePath(123) == "\\\\.\\COM123", "device path of COM123");
  Check(port->Open(250) == platform::kErrorFileNotFound, "a missing port answers 2");
  Check(!port->IsOpen(), "a failed open leaves the port closed");
  Check(port->Open(busyPort) == platform::kErrorAccessDenied, "a port in use answers 5");
  Check(port->BuildSettings("96,E,8,1"), "96,E,8,1 is a mode");
  Check(port->BuildSettings("baud=9600 parity=e data=8 stop=1"), "the keyword form is a mode");
  Check(!port->BuildSettings(""), "an empty mode is refused");
  Check(!port->BuildSettings("  "), "a blank mode is refused");
  Check(!port->BuildSettings("fast please"), "a malformed mode is refused");
  Check(port->ApplySettings() != 0, "settings need an open port");
  Check(port->SetTimeouts() != 0, "time-outs need an open port");
  size_t got = 99;
  char buffer[4];
  Check(!port->Read(buffer, sizeof buffer, &got) && got == 0, "no read without a port");
  Check(port->Close() == 0, "closing a closed port does nothing");
}

void CheckModulePaths() {
  std::string library, program;
  // In a program the code's own module is the program.
  Check(platform::LibraryFileName(&library), "the module's file name");
  Check(platform::ProgramFileName(&program), "the program's file name");
  Check(library == program, "the module of this code is this program");
  Check(library.find('\\') != std::string::npos, "a full name with backslashes");
  Check(platform::kPathSeparator == '\\', "the separator is a backslash");
  Check(!platform::LibraryFileName(nullptr), "no output, no name");
}

void CheckLog(const std::string& dir) {
  const std::string path = dir + "\\check.log";
  const std::string one = "first line\nsecond\n";
  platform::AppendLogText(path, one.data(), one.size());
  Check(ReadAll(path) == "first line\r\nsecond\r\n", "log lines end in CR LF");
  // While another program holds the file, the text is lost and nothing else
  // happens.
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  Check(held != INVALID_HANDLE_VALUE, "hold the log exclusively");
  platform::AppendLogText(path, "lost\n", 5);
  CloseHandle(held);
  platform::AppendLogText(path, "third\n", 6);
  Check(ReadAll(path) == "first line\r\nsecond\r\nthird\r\n", "a held log loses only that text");
  // A CR LF already in the text stays as it is; a lone CR too.
  const std::string ends = "host c\r\nd\ne\r\r\n\r";
  platform::AppendLogText(path, ends.data(), ends.size());
  Check(ReadAll(path) == "first line\r\nsecond\r\nthird\r\nhost c\r\nd\r\ne\r\r\n\r",
        "a CR LF in the text is written once");
  platform::AppendLogText(dir + "\\missing\\x.log", "x\n", 2);
  Check(GetFileAttributesA((dir + "\\missing").c_str()) == INVALID_FILE_ATTRIBUTES,
        "a missing directory is not made");
}

void CheckFiles(const std::string& dir) {
  const std::string path = dir + "\\settings.xml";
  Check(!platform::ProbeFile(path).exists, "a missing file does not exist");
  WriteAll(path, "old content");
  platform::FileProbe probe = platform::ProbeFile(path);
  Check(probe.exists && probe.readable && probe.size == 11, "an existing file's size");
  Check(!platform::ProbeFile(dir).readable, "a directory is no readable file");

  const std::string temporary = platform::TemporaryFileBeside(path);
  Check(temporary.rfind(path, 0) == 0 && temporary != path, "the temporary file is beside");
  Check(platform::TemporaryFileBeside(path) != temporary, "each temporary name is new");
  WriteAll(temporary, "new content");
  // Renaming onto an existing file replaces it.
  Check(platform::ReplaceWithTemporaryFile(temporary, path) == 0, "replace an existing file");
  Check(ReadAll(path) == "new content", "the new content is in place");
  Check(GetFileAttributesA(temporary.c_str()) == INVALID_FILE_ATTRIBUTES, "the temporary is gone");

  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  const std::string second = platform::TemporaryFileBeside(path);
  WriteAll(second, "refused");
  Check(platform::ReplaceWithTemporaryFile(second, path) == ERROR_ACCESS_DENIED,
        "a read-only file is not replaced");
  Check(ReadAll(path) == "new content", "the read-only file keeps its content");
  Check(GetFileAttributesA(second.c_str()) == INVALID_FILE_ATTRIBUTES,
        "the refused temporary is gone");
  Check(platform::ClearReadOnly(path), "clear the read-only mark");
  Check((GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) == 0, "writable again");
  platform::RemoveFile(path);
  Check(!platform::ProbeFile(path).exists, "the file is removed");
}

void CheckClock() {
  const uint32_t start = platform::TickCount();
  platform::SleepMs(200);
  const uint32_t elapsed = platform::TickCount() - start;
  Check(elapsed >= 190 && elapsed < 1000, "ticks count milliseconds");
  const platform::LocalTime now = platform::Now();
  Check(now.year >= 2024 && now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31,
        "the local date");
}

// The ANSI code page (1252 here) and UTF-8: the dialogs' names both ways,
// the code page's own euro sign, and what it has no byte for refused rather
// than replaced by "?" or a look-alike.
void CheckCodePage() {
  Check(GetACP() == 1252, "the ANSI code page is 1252 (" + std::to_string(GetACP()) + ")");
  Check(platform::CodePageToUtf8("Einfahrt S\xfc"
                                 "d") ==
            "Einfahrt S\xc3\xbc"
            "d",
        "a code page name as UTF-8");
  Check(platform::CodePageToUtf8("\x80") == "\xe2\x82\xac", "the euro sign as UTF-8");
  Check(platform::CodePageToUtf8("").empty(), "an empty text as UTF-8");
  std::string all;
  for (int b = 0x20; b < 256; ++b) all += static_cast<char>(b);
  const platform::CodePageText back = platform::Utf8ToCodePage(platform::CodePageToUtf8(all));
  Check(back.complete && back.text == all, "every printable byte to UTF-8 and back");
  const platform::CodePageText euro = platform::Utf8ToCodePage("Kasse \xe2\x82\xac");
  Check(euro.complete && euro.text == "Kasse \x80", "the euro sign into the code page");
  for (const char* refused : {"\xd0\x92\xd1\x85", "\xc4\x80", "\xe2\x88\x9e",
                              "S\xfc"
                              "d",
                              "ab\xc3", "\xed\xa0\x80"}) {
    const platform::CodePageText result = platform::Utf8ToCodePage(refused);
    Check(!result.complete && result.text.find('?') == std::string::npos,
          std::string("refused into the code page: ") + refused);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr,
                 "usage: win32-platform-check <scratch directory> <busy COM number> "
                 "[<free COM number>]\n");
    return 2;
  }
  const std::string dir = argv[1];
  CheckPortList();
  CheckSerialDevice(std::atoi(argv[2]));
  CheckProbe(std::atoi(argv[2]), argc == 4 ? std::atoi(argv[3]) : 0);
  CheckModulePaths();
  CheckLog(dir);
  CheckFiles(dir);
  CheckClock();
  CheckCodePage();
  std::printf("%d checks, %d failed\n", gChecks, gFailed);
  return gFailed == 0 ? 0 : 1;
}
