#pragma once
// The constant-Q spectrogram of a cached entry: a grid of brightness values
// (0..1, row-major, row 0 band 0 = the highest frequency, column 0 the start).
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

// Holds engineMutex only while it reads the entry.
enum class SpectrogramResult : std::int32_t
{
    ok = 0,
    nullOutput = -1, // out or outSeconds
    badSize = -2,    // width outside 32..2048 or height outside 32..1024
    notReady = -3,
    unknownId = -4,   // ids below 1 included
    noAudio = -5,     // no buffer or rate not above 0
    empty = -6,       // no channels or samples
    outOfMemory = -7, // or no analysis at this rate
};
SpectrogramResult analyseCqtSpectrogram (QuorvalenEngine& engine, std::int32_t cacheId, float* out, std::uint32_t width,
                                         std::int32_t height, float* outSeconds);

} // namespace quorvalen
