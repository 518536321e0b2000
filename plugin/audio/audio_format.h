#pragma once

#include <cstdint>

// Block alignment of a 16-byte PCM wave format.
std::uint32_t AudioBlockAlign(const std::uint8_t* waveFormat);
// Audio bytes per interleave period, in single precision as the headers use it.
float InterleaveBytes(std::uint32_t totalBytes, std::uint32_t frameCount,
                      std::uint32_t interleaveFrames);
// The byte the audio must reach for a fraction of the whole: the product is
// formed at more than single precision (0.01 of 705600 gives 7055, not 7056)
// and the end rounded down to a whole block. Never past the whole.
std::uint32_t AudioTarget(std::uint32_t totalBytes, float progress, std::uint32_t blockAlign);
