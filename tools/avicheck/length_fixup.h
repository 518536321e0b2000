// An interrupted movie is finished by the plug-in with the headers it wrote
// at the start, which announce every frame that was asked for. Players take
// the duration from them, so the host sets the main header's frame count
// and each stream's length to what the file holds, as `repair` does.
#pragma once

#include <string>

namespace norv::cli {

// False with `error` set when the file is not a finished AVI file with the
// headers where the plug-in writes them; the file is then left as it was.
bool SetLengthsToContents(const std::string& path, std::string* error);

}  // namespace norv::cli
