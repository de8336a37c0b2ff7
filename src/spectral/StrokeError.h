#pragma once
// What a spectral stroke answers with, shared by the dispatcher and the kernels.
#include <cstdint>

namespace quorvalen
{

// A stroke answers with the live cache id or one of these; the numbers are those
// the public header documents. A failed stroke changes nothing.
enum class StrokeError : std::int32_t
{
    badPoints = -1,     // null arrays, a count below 1 or a non-finite value
    tooManyPoints = -2, // more than maxStrokePoints
    unknownSession = -3,
    liveGone = -4,     // the live copy is gone or reshaped
    strokeFailed = -5, // out of memory, no analysis at this rate, rolled back
    badTools = -6,     // tool codes mixed or outside 0..4
};

} // namespace quorvalen
