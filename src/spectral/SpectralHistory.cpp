#include "spectral/SpectralHistory.h"

#include "cache/AudioCache.h"
#include "core/HistoryBudget.h"
#include "core/Log.h"
#include "spectral/SpectralPlayback.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralSessions.h"
#include "spectral/SpectralStft.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <new>

namespace quorvalen
{
namespace
{
std::atomic<std::size_t> budgetFloor { spectralHistoryBudgetFloor };

std::size_t recordBytes (const SpectralUndoRecord& record)
{
    return record.delta.size() * sizeof (float) + record.laser.size() * sizeof (LaserStrokeRecord)
        + record.boxes.size() * sizeof (ZSculptBox);
}

// The record fits the live buffer: a range inside the session and a delta of the
// right size over channels the buffer has.
bool recordFits (const SpectralSession& session, const juce::AudioBuffer<float>& live, const SpectralUndoRecord& record)
{
    const auto length = record.end - record.start;
    return record.start >= 0 && record.end <= session.numSamples && length >= 1 && record.channels >= 1
        && record.channels <= live.getNumChannels()
        && record.delta.size() == (std::size_t) record.channels * (std::size_t) length;
}

void addDelta (juce::AudioBuffer<float>& live, const SpectralUndoRecord& record, float sign) noexcept
{
    const auto length = record.end - record.start;
    for (int c = 0; c < record.channels; ++c)
    {
        float* x = live.getWritePointer (c) + record.start;
        const float* d = record.delta.data() + (std::size_t) c * (std::size_t) length;
        for (std::int64_t i = 0; i < length; ++i)
            x[i] += sign * d[i];
    }
}

// The spans of samples whose value adding sign x delta changes (bit for bit, in
// any channel): only the frames that see them need to be analysed again.
std::vector<IndexSpan> changedSpans (const juce::AudioBuffer<float>& live, const SpectralUndoRecord& record, float sign)
{
    const auto length = record.end - record.start;
    std::vector<IndexSpan> changed;
    for (int c = 0; c < record.channels; ++c)
    {
        const float* x = live.getReadPointer (c) + record.start;
        const float* d = record.delta.data() + (std::size_t) c * (std::size_t) length;
        std::int64_t runStart = -1;
        for (std::int64_t i = 0; i < length; ++i)
        {
            const float after = x[i] + sign * d[i];
            const bool moved = std::bit_cast<std::uint32_t> (after) != std::bit_cast<std::uint32_t> (x[i]);
            if (moved && runStart < 0)
                runStart = i;
            else if (! moved && runStart >= 0)
            {
                changed.push_back ({ record.start + runStart, record.start + i });
                runStart = -1;
            }
        }
        if (runStart >= 0)
            changed.push_back ({ record.start + runStart, record.end });
    }
    // Runs closer than a frame share frames anyway.
    return mergeSpans (std::move (changed), stftSize);
}

int moveRecord (QuorvalenEngine& engine, std::int32_t sessionId, bool redo)
{
    const auto lock = lockEngine (engine);
    auto* session = findSpectralSession (engine, (std::uint32_t) sessionId);
    if (session == nullptr)
        return (int) SpectralHistoryError::unknownSession;
    auto& from = redo ? session->redoStack : session->undoStack;
    auto& to = redo ? session->undoStack : session->redoStack;
    if (from.empty())
        return (int) SpectralHistoryError::nothingToMove;
    to.reserve (to.size() + 1); // nothing may fail once the audio has moved
    if (! applySpectralUndoRecord (engine, *session, from.back(), redo))
        return (int) SpectralHistoryError::notApplied;
    // Moving a record changes neither the stacks' total count nor their bytes, and
    // both were within their limits after the last push: no trimming here.
    to.push_back (std::move (from.back()));
    from.pop_back();
    return (int) session->liveCacheId;
}
} // namespace

std::vector<float> copySessionRegion (QuorvalenEngine& engine, const SpectralSession& session, std::int64_t start,
                                      std::int64_t end, std::int32_t* outChannels)
{
    *outChannels = 0;
    auto* live = sessionLiveBuffer (engine, session);
    if (live == nullptr)
        return {};
    const auto s = std::clamp<std::int64_t> (start, 0, session.numSamples);
    const auto e = std::clamp<std::int64_t> (end, s, session.numSamples);
    const auto length = e - s;
    const int channels = std::min (live->getNumChannels(), session.numChannels);
    *outChannels = channels;
    if (length < 1 || channels < 1)
        return {};
    std::vector<float> snapshot ((std::size_t) channels * (std::size_t) length);
    for (int c = 0; c < channels; ++c)
        std::copy_n (live->getReadPointer (c) + s, length, snapshot.begin() + (std::ptrdiff_t) (c * length));
    return snapshot;
}

bool buildSessionDelta (QuorvalenEngine& engine, const SpectralSession& session, SpectralUndoRecord& record,
                        const std::vector<float>& snapshot)
{
    auto* live = sessionLiveBuffer (engine, session);
    const auto length = record.end - record.start;
    if (live == nullptr || length < 1 || record.start < 0 || record.end > session.numSamples || record.channels < 1
        || record.channels > live->getNumChannels()
        || snapshot.size() != (std::size_t) record.channels * (std::size_t) length)
        return false;
    record.delta.resize (snapshot.size());
    for (int c = 0; c < record.channels; ++c)
    {
        const float* x = live->getReadPointer (c) + record.start;
        const auto offset = (std::size_t) c * (std::size_t) length;
        for (std::int64_t i = 0; i < length; ++i)
            record.delta[offset + (std::size_t) i] = x[i] - snapshot[offset + (std::size_t) i];
    }
    return true;
}

void pushSpectralUndo (SpectralSession& session, SpectralUndoRecord record)
{
    session.undoStack.push_back (std::move (record));
    if (session.undoStack.size() > spectralUndoLimit)
        session.undoStack.erase (session.undoStack.begin());
    session.redoStack.clear();

    // Knife and Z sculpt records hold whole-file deltas: 48 of a long sound would
    // exhaust memory. The record just pushed always stays.
    const auto liveBytes = (std::size_t) session.numChannels * (std::size_t) session.numSamples * sizeof (float);
    const auto budget = historyBudget (budgetFloor.load(), liveBytes);
    const int dropped = trimHistoryToBudget (session.undoStack, session.redoStack, budget, 1, recordBytes);
    if (dropped > 0)
        logOut ("[QUORVALEN WEB STFT DOUBLE KNIFE 1.0.2] session %d history over its %.1f MB budget; %d oldest steps "
                "dropped\n",
                (int) session.id, (double) budget / 1.0e6, dropped);
}

void setSpectralHistoryBudgetFloor (std::size_t bytes)
{
    budgetFloor.store (bytes);
}

bool applySpectralUndoRecord (QuorvalenEngine& engine, SpectralSession& session, const SpectralUndoRecord& record,
                              bool redo)
{
    auto* live = sessionLiveBuffer (engine, session);
    if (live == nullptr || ! recordFits (session, *live, record))
        return false;
    const float sign = redo ? 1.0f : -1.0f;
    const auto playback = stopLivePlayback (engine, session);
    bool refreshed = false;
    try
    {
        const auto changed = changedSpans (*live, record, sign);
        addDelta (*live, record, sign);
        // Frames that see no changed sample are as before: only the others are analysed.
        refreshed = refreshStftState (session, *live, changed);
        if (! refreshed)
        {
            // The record stays where it was, so the audio must stay as it was too; the
            // emptied STFT state is rebuilt by the next stroke that needs it.
            addDelta (*live, record, -sign);
        }
    }
    catch (const std::bad_alloc&)
    {
        // Nothing was written: the spans are found before the audio moves.
    }
    resumeSpectralLoop (engine, session, playback);
    return refreshed;
}

int undoCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId)
{
    return moveRecord (engine, sessionId, false);
}

int redoCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId)
{
    return moveRecord (engine, sessionId, true);
}

} // namespace quorvalen
