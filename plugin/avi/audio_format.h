#pragma once

#include <cstdint>

// Block alignment of a 16-byte PCM wave format.
std::uint32_t AudioBlockAlign(const std::uint8_t* waveFormat);
// Audio bytes per interleave period, in single precision as the headers use it.
float InterleaveBytes(std::uint32_t totalBytes, std::uint32_t frameCount,
                      std::uint32_t interleaveFrames);
