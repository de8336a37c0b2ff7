#include "spectral/SpectralStrokeEdit.h"

#include "spectral/SpectralHistory.h"
#include "spectral/SpectralSession.h"
#include "spectral/stft/SpectralStft.h"

#include <algorithm>

namespace quorvalen
{

SpectralStrokeEdit::SpectralStrokeEdit (SessionWork& w, SpectralSession& s) : work (w), session (s) {}

SpectralStrokeEdit::~SpectralStrokeEdit()
{
    if (! finished)
        restoreStft();
}

void SpectralStrokeEdit::stftChanging (std::vector<IndexSpan> frames, const SampleWindow& before)
{
    changedFrames = mergeSpans (std::move (frames));
    reference = &before;
}

namespace
{
// The record's delta over its range: after minus before, 0 where they do not reach.
void fillDelta (SpectralUndoRecord& record, const SampleWindow& before, const SampleWindow& after)
{
    const auto length = record.end - record.start;
    record.channels = std::min (before.channels, after.channels);
    record.delta.assign ((std::size_t) record.channels * (std::size_t) length, 0.0f);
    const auto from = std::max (record.start, after.start), to = std::min (record.end, after.start + after.length);
    for (int c = 0; c < record.channels; ++c)
    {
        const float* a = after.channel (c);
        const float* b = before.channel (c);
        float* d = record.delta.data() + (std::size_t) c * (std::size_t) length;
        for (auto i = from; i < to; ++i)
            d[i - record.start] = a[i - after.start] - b[i - before.start];
    }
}
} // namespace

LiveState SpectralStrokeEdit::commit (const SampleWindow& before, SampleWindow after,
                                      const std::vector<IndexSpan>& spans, SpectralUndoRecord record)
{
    // Everything that may fail comes before the install.
    if (record.delta.empty())
        fillDelta (record, before, after);
    session.undoStack.reserve (session.undoStack.size() + 1);

    if (const auto state = work.install (std::move (after), spans); state != LiveState::ok)
        return state;
    finished = true;
    pushSpectralUndo (session, std::move (record));
    return LiveState::ok;
}

void SpectralStrokeEdit::restoreStft() noexcept
{
    finished = true;
    if (reference != nullptr)
        restoreStftFrames (work, session, changedFrames, *reference);
}

void restoreStftFrames (SessionWork& work, SpectralSession& session, const std::vector<IndexSpan>& frames,
                        const SampleWindow& before) noexcept
{
    if (frames.empty() || session.turn.ended)
        return;
    // Without its live copy the session can do nothing more: its state need not be kept.
    if (work.state() == LiveState::liveGone)
    {
        clearStftState (session);
        return;
    }
    try
    {
        if (! refreshStftFrames (session, before, frames))
            clearStftState (session);
    }
    catch (...)
    {
        clearStftState (session);
    }
}

int strokeCode (LiveState state, StrokeError liveGone)
{
    switch (state)
    {
        case LiveState::sessionGone: return (int) StrokeError::unknownSession;
        case LiveState::liveGone: return (int) liveGone;
        case LiveState::liveChanged:
        case LiveState::ok: break;
    }
    return (int) StrokeError::strokeFailed;
}

} // namespace quorvalen
