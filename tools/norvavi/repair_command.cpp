#include <iostream>

#include "tools/norvavi/commands.h"

namespace norv::cli {

int RunRepairCommand(const RepairOptions& options) {
  const RepairResult result = RepairAvi(options);
  (result.status == 0 ? std::cout : std::cerr) << result.message << "\n";
  return result.status;
}

}  // namespace norv::cli
