#pragma once
// One undo step of a spectral session: the signed audio difference (after minus
// before) of the samples a stroke may have changed.
#include <cstdint>
#include <vector>

namespace quorvalen
{

// An ellipse of a Z sculpt stroke, clamped: time and y centres in 0..1, half sizes
// in 0.001..0.5.
struct ZSculptBox
{
    float centreTime = 0.0f;
    float centreY = 0.0f;
    float halfWidth = 0.0f;
    float halfHeight = 0.0f;
};

// One band that a point of a laser stroke reached: the session image draws
// committed laser strokes from these. strength is the band's weight (1 centre,
// 0.88 and 0.65 one and two bands away) times the point's pressure.
struct LaserStrokeRecord
{
    std::int32_t band = 0;
    float time = 0.0f; // fraction of the file
    float size = 0.0f; // time half-width, fraction of the file
    float strength = 0.0f;
};

struct SpectralUndoRecord
{
    SpectralUndoRecord() = default;
    SpectralUndoRecord (SpectralUndoRecord&&) noexcept = default;
    SpectralUndoRecord& operator= (SpectralUndoRecord&&) noexcept = default;
    SpectralUndoRecord (const SpectralUndoRecord&) = delete;
    SpectralUndoRecord& operator= (const SpectralUndoRecord&) = delete;

    std::int64_t start = 0; // first changed sample
    std::int64_t end = 0;   // exclusive; end > start, inside the live copy
    std::int32_t channels = 0;
    // channels x (end - start) values, channel-major.
    std::vector<float> delta;
    // 1 for strokes that resynthesise the whole signal.
    std::uint8_t wholeSignal = 0;
    std::vector<LaserStrokeRecord> laser;
    std::vector<ZSculptBox> boxes;
};

} // namespace quorvalen
