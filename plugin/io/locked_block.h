// Movable, zero-filled global memory, locked for its whole life: the form
// of the buffers that hold bitmaps and stream formats.
#pragma once

#include <cstddef>
#include <cstdint>

std::uint8_t* AllocLockedBlock(std::size_t bytes);
void FreeLockedBlock(std::uint8_t*& block);
