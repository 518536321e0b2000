// AviSettings fields by name, for `--set FIELD=VALUE` and for printing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plugin/host/avi_settings.h"

namespace norv::cli {

// Sets one field from "name=value" (arrays as "name.N=value"). Accepts
// integers, floats for frameRate, a four-character code or 0 for
// compressorHandler, and text for paletteFile. The compressor-state block
// and its sizes are not settable. False with `error` set on anything else;
// the record is then unchanged.
bool SetSettingsField(AviSettings* settings, std::string_view assignment, std::string* error);

// "name=value" for every settable field, in record order.
std::vector<std::string> DescribeSettings(const AviSettings& settings);

// One settable name (array elements each by their own name) as `norvavi
// fields` lists it.
struct FieldDescription {
  std::string name;     // as --set takes it, e.g. "audioFormat.2"
  std::string type;     // integer, unsigned, number, fourcc, text
  std::string allowed;  // the values the settings dialogs let it hold
  std::string meaning;
};
std::vector<FieldDescription> DescribeFields();

// Every field whose value the AVI Settings or Audio Settings dialog would
// not let it hold, one message each naming the field and what it takes.
std::vector<std::string> CheckFieldRanges(const AviSettings& settings);

}  // namespace norv::cli
