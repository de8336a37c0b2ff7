#include "spectral/SpectralHistory.h"

#include "core/HistoryBudget.h"
#include "core/Log.h"
#include "spectral/SessionWork.h"
#include "spectral/SpectralSession.h"
#include "spectral/stft/SpectralStft.h"
#include "spectral/SpectralStrokeEdit.h"

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

// The record fits the live copy: a range inside the session and a delta of the
// right size over channels the copy has.
bool recordFits (const SpectralSession& session, int channels, const SpectralUndoRecord& record)
{
    const auto length = record.end - record.start;
    return record.start >= 0 && record.end <= session.numSamples && length >= 1 && record.channels >= 1
        && record.channels <= channels && record.delta.size() == (std::size_t) record.channels * (std::size_t) length;
}

// Adds sign x delta to the record's range of `audio`, which holds it.
void addDelta (SampleWindow& audio, const SpectralUndoRecord& record, float sign) noexcept
{
    const auto length = record.end - record.start;
    for (int c = 0; c < record.channels; ++c)
    {
        float* x = audio.channel (c) + (record.start - audio.start);
        const float* d = record.delta.data() + (std::size_t) c * (std::size_t) length;
        for (std::int64_t i = 0; i < length; ++i)
            x[i] += sign * d[i];
    }
}

// The spans of samples whose value adding sign x delta changes (bit for bit, in
// any channel): only the frames that see them need to be analysed again.
std::vector<IndexSpan> changedSpans (const SampleWindow& audio, const SpectralUndoRecord& record, float sign)
{
    const auto length = record.end - record.start;
    std::vector<IndexSpan> changed;
    for (int c = 0; c < record.channels; ++c)
    {
        const float* x = audio.channel (c) + (record.start - audio.start);
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

int historyCode (LiveState state)
{
    return state == LiveState::sessionGone ? (int) SpectralHistoryError::unknownSession
                                           : (int) SpectralHistoryError::notApplied;
}

// Adds (redo) or subtracts (undo) the record's delta: the samples it changes and
// the STFT frames that see them are worked out on copies, then the samples
// installed. ok, or why not (then nothing changed).
LiveState applyRecord (SessionWork& work, SpectralSession& session, const SpectralUndoRecord& record, bool redo)
{
    SampleWindow before;
    if (const auto s = work.read ({}, before); s != LiveState::ok)
        return s;
    if (! recordFits (session, before.channels, record))
        return LiveState::liveGone;
    if (const auto s = ensureSessionStft (work, session, before.channels); s != LiveState::ok)
        return s;
    const auto reach = stftSamplesRead (session, stftFramesSeeing (session, IndexSpan { record.start, record.end }));
    if (const auto s = work.read (reach, before); s != LiveState::ok)
        return s;
    if (! before.holds ({ record.start, record.end }) || before.channels < record.channels)
        return LiveState::liveGone;

    const float sign = redo ? 1.0f : -1.0f;
    const auto changed = changedSpans (before, record, sign);
    SampleWindow after = before;
    addDelta (after, record, sign);
    // Frames that see no changed sample are as before: only the others are analysed.
    const auto frames = stftFramesSeeing (session, changed);
    if (! refreshStftFrames (session, after, frames, [&work] { return work.stopped(); }))
    {
        const auto state = work.stopped() ? work.state() : LiveState::liveChanged;
        restoreStftFrames (work, session, frames, before);
        return state == LiveState::ok ? LiveState::liveChanged : state;
    }
    const auto state = work.install (std::move (after), changed);
    if (state != LiveState::ok)
        restoreStftFrames (work, session, frames, before);
    return state;
}

int moveRecord (QuorvalenEngine& engine, std::int32_t sessionId, bool redo)
{
    SessionWork work (engine, (std::uint32_t) sessionId);
    auto* session = work.session();
    if (session == nullptr)
        return (int) SpectralHistoryError::unknownSession;
    auto& from = redo ? session->redoStack : session->undoStack;
    auto& to = redo ? session->undoStack : session->redoStack;
    if (from.empty())
        return (int) SpectralHistoryError::nothingToMove;
    try
    {
        to.reserve (to.size() + 1); // nothing may fail once the audio has moved
        if (const auto s = applyRecord (work, *session, from.back(), redo); s != LiveState::ok)
            return historyCode (s);
    }
    catch (const std::bad_alloc&)
    {
        // Nothing was installed: the samples move last.
        return (int) SpectralHistoryError::notApplied;
    }
    // Moving a record changes neither the stacks' total count nor their bytes, and
    // both were within their limits after the last push: no trimming here.
    to.push_back (std::move (from.back()));
    from.pop_back();
    return (int) session->liveCacheId;
}
} // namespace

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

int undoCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId)
{
    return moveRecord (engine, sessionId, false);
}

int redoCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId)
{
    return moveRecord (engine, sessionId, true);
}

} // namespace quorvalen
