#include <iostream>

#include "tools/avicheck/avi_salvage.h"
#include "tools/norvavi/commands.h"
#include "tools/norvavi/key_frames.h"

namespace norv::cli {

int RunRepairCommand(const RepairCommand& command) {
  if (command.salvage) {
    if (command.repair.inPlace) {
      std::cerr << "norvavi: a salvage writes OUT and never IN: --in-place does not go with it\n";
      return 2;
    }
    KeyFrames keys;
    const SalvageReport report =
        SalvageAvi({command.repair.input, command.repair.output, command.reference},
                   [&keys](int stream, std::uint32_t compression, const std::uint8_t* data,
                           std::size_t n) { return keys(stream, compression, data, n); });
    (report.status == 0 || command.json ? std::cout : std::cerr)
        << (command.json ? FormatSalvageJson(report) : FormatSalvage(report));
    return report.status;
  }
  if (!command.reference.empty() || command.json) {
    std::cerr << "norvavi: --reference and --json go with --salvage\n";
    return 2;
  }
  const RepairResult result = RepairAvi(command.repair);
  (result.status == 0 ? std::cout : std::cerr) << result.message << "\n";
  return result.status;
}

}  // namespace norv::cli
