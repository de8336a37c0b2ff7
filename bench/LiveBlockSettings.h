#pragma once
// What the live-path benchmarks share: 20 s of 48 kHz audio in 512-frame blocks.
#include <chrono>

namespace qvbench
{
using Clock = std::chrono::steady_clock;
constexpr double rate = 48000.0;
constexpr int block = 512;
constexpr double audioSeconds = 20.0;
constexpr int blocks = (int) (audioSeconds * rate / block);
} // namespace qvbench
