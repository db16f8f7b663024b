// The driver's result codes and their meanings, for printing.
#pragma once

#include <string>

namespace ptzctl {

// "success", "no answer", ...; "unknown result code" for a code not in the
// table.
const char* ResultMeaning(int code);
// "1 success", "-13 camera not found".
std::string DescribeResult(int code);
// The whole table, one "  -13  camera not found" line per code.
std::string ResultTable();

}  // namespace ptzctl
