// The C heap set up for a conversion. The decoders and encoders allocate
// their frame pools and packet buffers once, tens of megabytes, from several
// threads; in 4 KiB pages each first write to them is a page fault, and in a
// virtual machine those faults cost as much as a tenth of the run. One arena
// grown once and advised for huge pages takes a 1080p conversion's faults
// from 27,000 to about 4,000, and blocks freed stay there for the next frame.
#pragma once

namespace norv::cli {

// Call once, before any thread starts. False when no region was advised:
// the process runs under a limit on its address space or data (ulimit -v,
// -d), the heap could not grow in place, or a sanitizer's allocator stands
// in for it. Allocation then works as before.
bool PrepareHeapForFrames();

}  // namespace norv::cli
