#pragma once
// What one knife or Z sculpt stroke may cost: the cells its boxes cover, summed
// over its distinct points (overlaps counted each time; a point given again
// costs nothing more, see knifePoints and ZSculptCarve). A cell is
// one frame by one bin of the tool's transform: 1024-point frames at hop 174 for
// the knife, 4096-point frames at hop 256 for the Z sculpt. A stroke above the
// budget is refused (StrokeError::tooManyPoints) before anything changes.
#include <cstdint>

namespace quorvalen
{

inline constexpr std::int64_t maxStrokeCells = std::int64_t { 1 } << 29;

} // namespace quorvalen
