// A block of host memory as the records refer to it: 32 bits wide on every
// target, so records and presets keep one byte layout. On 32-bit Windows it
// is the block's address; elsewhere an id that the host resolves.
#pragma once

#include <cstdint>

using HostBlockRef = std::uint32_t;
