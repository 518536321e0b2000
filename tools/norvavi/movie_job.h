// `norvavi make`: one movie through the plug-in's exports, as a host does it.
#pragma once

#include "tools/norvavi/make_options.h"

namespace norv::cli {

// 0 when the movie was written; non-zero after a message on standard error.
int MakeMovie(const MakeOptions& options);

}  // namespace norv::cli
