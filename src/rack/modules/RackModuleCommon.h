#pragma once
// What every rack module works with: its preparation spec, the block it processes,
// where in the sound that block lies, and the lane reader over its record.
#include "core/AutomationLane.h"
#include "rack/QuorvalenRackSettings.h"
#include "rack/RackParameters.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>

namespace quorvalen
{

struct RackModuleSpec
{
    double sampleRate = 44100.0;
    int maxBlock = 512;
};

// Samples [start, start + count) of a buffer.
struct RackBlock
{
    juce::AudioBuffer<float>& buffer;
    int start = 0;
    int count = 0;
};

// Where the block lies in the sound: the play position of its first sample, the
// sound's length and the loop.
struct RackTimeline
{
    std::int64_t position = 0;
    std::int64_t playLength = 1;
    std::int64_t loopLength = 1;
    bool looping = false;

    bool loops() const noexcept { return looping && loopLength > 0; }

    // The position lanes are read at: `offset` samples into the block, wrapped into
    // the loop and held inside the sound.
    std::int64_t automationPosition (std::int64_t offset = 0) const noexcept
    {
        auto q = std::max<std::int64_t> (position + offset, 0);
        if (loops())
            q %= loopLength;
        return std::min (q, playLength - 1);
    }
};

// Lane value mapped into [lo, hi] at a position of a sound of `length` samples; the
// setting's own value when the lane is empty. A cursor, when given, makes reads at
// non-decreasing positions O(1).
float automationValue (const QuorvalenRackSettings& settings, int lane, float defaultValue, float lo, float hi,
                       std::int64_t position, std::int64_t length, bool logarithmic,
                       AutomationLaneCursor* cursor = nullptr) noexcept;

// A module's view of its record's lanes over the timeline.
class RackLanes
{
public:
    RackLanes (const QuorvalenRackSettings& settings, const RackTimeline& timeline) noexcept
            : record (settings), time (timeline)
    {}

    const RackTimeline& timeline() const noexcept { return time; }

    // The parameter at `offset` samples into the block; `value` is the record's own.
    float read (const RackParameter& p, float value, std::int64_t offset = 0,
                AutomationLaneCursor* cursor = nullptr) const noexcept
    {
        return readAt (p, value, time.automationPosition (offset), cursor);
    }

    // The parameter at a position already wrapped into the sound.
    float readAt (const RackParameter& p, float value, std::int64_t position,
                  AutomationLaneCursor* cursor = nullptr) const noexcept
    {
        return automationValue (record, p.lane, value, p.lo, p.hi, position, time.playLength, p.logarithmic, cursor);
    }

private:
    const QuorvalenRackSettings& record;
    const RackTimeline& time;
};

inline bool allFinite (std::initializer_list<float> values) noexcept
{
    for (auto v : values)
        if (! std::isfinite (v))
            return false;
    return true;
}

} // namespace quorvalen
