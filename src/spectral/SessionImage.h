#pragma once
// The picture behind a spectral session: a grid of brightness values (0..1,
// row-major, row 0 the highest frequency, column 0 the start) of the live copy.
// The size selects the rendering: 961 x 385 the bounded-Q display, another width
// at height 385 the constant-Q image (with committed laser strokes drawn in),
// any other height the STFT image.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

// Renders from a copy of the live copy, in the session's turn (see SessionWork);
// the size is checked first.
enum class SessionImageResult : std::int32_t
{
    ok = 0,
    nullOutput = -1,
    badSize = -2,        // width outside 32..2048 or height outside 32..1024
    unknownSession = -3, // ids below 1 included, and a session ended while it rendered
    liveGone = -4,       // the live copy is gone (also while it rendered), reshaped, empty or the rate not above 0
    outOfMemory = -5,    // or no constant-Q analysis at this rate
};
SessionImageResult renderCqtSpectralSessionImage (QuorvalenEngine& engine, std::int32_t sessionId, float* out,
                                                  std::uint32_t width, std::int32_t height);

} // namespace quorvalen
