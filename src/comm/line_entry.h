// What a COM port's entry beside the library says: nothing (a local port),
// a network line, or a network line file that names none.
#pragma once

#include <string>

#include "comm/network_address.h"

namespace netline {

// What COM port n's entry says. kLocal: no network line file; kNetwork:
// *address is the line; kMalformed: a file that names no line (*why says
// why, *text is what its first line says).
enum class EntryKind { kLocal, kNetwork, kMalformed };
EntryKind LookUpPort(int comPort, Address* address, std::string* text, std::string* why,
                     std::string* path);

// Printable form of a file's text for the log: control bytes and bytes
// above 0x7e as \xNN, cut at 120 characters with "...".
std::string Quoted(const std::string& text);

}  // namespace netline
