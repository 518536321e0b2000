// `norvavi repair` for OpenDML files cut in an extension form: the forms
// before it are whole and indexed by the plug-in as it went; the last
// 'AVIX' form keeps its whole chunks and records (a torn last one is
// dropped), gets its standard indexes and its sizes, and the super indexes,
// 'dmlh' and the stream lengths are brought up to what the file holds.
#pragma once

#include <string>

#include "tools/avicheck/avi_repair.h"
#include "tools/avicheck/riff_reader.h"

namespace norv::cli {

// What a file is to the OpenDML repair: not OpenDML; cut in its first form,
// or with its first form whole and its last 'AVIX' form never closed (the
// kind RepairOpenDml finishes); or with every form closed (nothing to do).
enum class OpenDmlFile { kOther, kCut, kFinished };
OpenDmlFile ClassifyOpenDml(FileReader& in);

// Writes the finished file to `target` (beside it first, then renamed).
// Throws Refusal for a file it will not touch.
RepairResult RepairOpenDml(FileReader& in, const std::string& target);

}  // namespace norv::cli
