// The fault-injection build's switchboard: every wrapped platform operation
// asks it whether this call is the one to fail.
//
// The test that runs the driver names one operation and a call number in
// the environment before it loads the library:
//   Q7FAULT_OP      the operation ("serial.write", "settings.rename", ...)
//   Q7FAULT_AT      the number of the call that fails, from 1
//   Q7FAULT_ON      when set (to anything), every later call fails as well
//   Q7FAULT_REPORT  a file: "injected <op> <n>" is appended at each injected
//                   fault, and "calls <op> <count>" for every operation
//                   when the library is unloaded or the process ends.
// Without Q7FAULT_OP the calls are only counted.
#pragma once

namespace fault {

// Counts the call of `op` and says whether it fails.
bool ShouldFail(const char* op);

}  // namespace fault
