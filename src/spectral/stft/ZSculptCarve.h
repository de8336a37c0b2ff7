#pragma once
// The Z sculpt's carving: 4096-point frames at hop 256, each frame's bins scaled
// by the least gain of the ellipses that reach them, overlap-added back. Only the
// frames some ellipse reaches are transformed, and only the samples a carved
// frame reaches are rewritten.
#include "spectral/SpectralUndoRecord.h"
#include "spectral/stft/SampleSpans.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace quorvalen
{

inline constexpr int zSculptFftSize = 4096;
inline constexpr int zSculptHop = 256;
inline constexpr int zSculptBinCount = zSculptFftSize / 2 + 1;

// Gain of one box at normalised elliptical distance d: 0 inside 48/56, rising to
// 0.05 at 53/56 and to 0.10 at the rim; 1 (no effect) from the rim on.
float zSculptBoxGain (float d);

class ZSculptCarve
{
public:
    // binY: the log-frequency position (0..1) of every bin, or -1 for bins outside
    // the axis (never carved).
    ZSculptCarve (const std::vector<ZSculptBox>& boxes, std::int64_t numSamples, std::vector<float> binY);

    // Cells (frame x bin) that the boxes reach, summed over the distinct boxes.
    std::int64_t cells() const noexcept { return totalCells; }

    // The samples [start, end) that carve reads and may write (empty when no box
    // reaches anything).
    IndexSpan samplesReached() const noexcept;

    // Carves up to two channels of `dry` into `live` (both holding samples from
    // `offset` on, through samplesReached(); `dry` may be read as it was before the
    // stroke while `live` is written). Non-finite dry samples are read as 0. The
    // sample spans rewritten, sorted and disjoint; empty (the carve left half
    // done) when `stop` said so between two runs of frames.
    std::vector<IndexSpan> carve (const float* const dry[2], float* const live[2], int channels,
                                  std::int64_t offset = 0, const std::function<bool()>& stop = {}) const;

private:
    // Frames [f0, f1) and bins [k0, k1) that a box may reach, each box once.
    struct Reach
    {
        ZSculptBox box;
        int bucket0 = 0, bucket1 = 0;
        std::int64_t f0 = 0, f1 = 0;
        int k0 = 0, k1 = 0;
    };
    float frameTime (std::int64_t f) const noexcept;
    bool reachesFrame (const Reach& r, std::int64_t f) const noexcept;
    Reach reachOf (const ZSculptBox& box) const;
    // Gains of frame f's bins from the boxes in `active`; false when all are >= 0.999999.
    bool frameGains (std::int64_t f, const std::vector<std::size_t>& active, std::vector<float>& gains) const;
    // Frames [start, end) that carve runs: those that overlap a frame some box reaches.
    IndexSpan framesRun() const noexcept;

    std::int64_t numSamples;
    std::int64_t frameCount;
    std::vector<float> binY;
    int axisBin0 = 0, axisBin1 = 0; // bins on the axis, [axisBin0, axisBin1)
    std::vector<Reach> reaches;     // distinct boxes that reach something, by first frame
    std::int64_t totalCells = 0;
};

} // namespace quorvalen
