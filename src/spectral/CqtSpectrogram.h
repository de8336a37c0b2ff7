#pragma once
// The constant-Q spectrogram of a cached entry: a grid of brightness values
// (0..1, row-major, row 0 band 0 = the highest frequency, column 0 the start).
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

// Holds engineMutex only while it reads the entry. 0; -1 out or outSeconds null;
// -2 width outside 32..2048 or height outside 32..1024; -3 not ready; -4 unknown
// id (ids below 1 included); -5 no buffer or rate not above 0; -6 no channels or
// samples; -7 out of memory or no analysis at this rate.
int analyseCqtSpectrogram (QuorvalenEngine& engine, std::int32_t cacheId, float* out, std::uint32_t width,
                           std::int32_t height, float* outSeconds);

} // namespace quorvalen
