#pragma once
// The control hook at /_control/faults: GET lists the faults, POST adds one
// (a JSON object) or several (an array of them), DELETE removes them all.
// Every answer is {"faults": [...]}, the whole table as FaultTable::list()
// gives it; POST also returns the new faults' "ids".

#include "base/http_message.h"
#include "faults/fault_table.h"

namespace corvenza::emulator::faults {

/// Serves @p request against @p table: 200 as above; 400 with the problem
/// for a body that holds an invalid fault (then nothing is added); 405 for
/// other methods.
Response handleFaultControl(FaultTable& table, const Request& request);

}  // namespace corvenza::emulator::faults
