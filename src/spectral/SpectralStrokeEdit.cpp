#include "spectral/SpectralStrokeEdit.h"

#include "spectral/SpectralHistory.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralStft.h"

#include <algorithm>

namespace quorvalen
{

SpectralStrokeEdit::SpectralStrokeEdit (QuorvalenEngine& e, SpectralSession& s, juce::AudioBuffer<float>& buffer)
        : engine (e), session (s), live (buffer)
{
    record.start = 0;
    record.end = session.numSamples;
    record.wholeSignal = 1;
}

SpectralStrokeEdit::~SpectralStrokeEdit()
{
    if (! finished)
        rollback();
}

void SpectralStrokeEdit::limitTo (std::int64_t start, std::int64_t end)
{
    record.start = std::clamp<std::int64_t> (start, 0, session.numSamples);
    record.end = std::clamp<std::int64_t> (end, record.start, session.numSamples);
    record.wholeSignal = 0;
}

bool SpectralStrokeEdit::takeSnapshot()
{
    snapshot = copySessionRegion (engine, session, record.start, record.end, &record.channels);
    return ! snapshot.empty();
}

const float* SpectralStrokeEdit::before (int channel) const
{
    return snapshot.data() + (std::size_t) channel * (std::size_t) (record.end - record.start);
}

void SpectralStrokeEdit::detachPlayback()
{
    if (! writing)
        playback = stopLivePlayback (engine, session);
    writing = true;
}

bool SpectralStrokeEdit::commit (std::vector<ZSculptBox> boxes, std::vector<LaserStrokeRecord> laser)
{
    if (! buildSessionDelta (engine, session, record, snapshot))
    {
        rollback();
        return false;
    }
    record.boxes = std::move (boxes);
    record.laser = std::move (laser);
    session.undoStack.reserve (session.undoStack.size() + 1);
    pushSpectralUndo (session, std::move (record));
    finished = true;
    resumeSpectralLoop (engine, session, playback);
    return true;
}

void SpectralStrokeEdit::rollback() noexcept
{
    finished = true;
    if (writing && ! snapshot.empty())
        for (int c = 0; c < record.channels && c < live.getNumChannels(); ++c)
            std::copy_n (before (c), record.end - record.start, live.getWritePointer (c) + record.start);
    // The bins may hold a half-applied edit or the edited audio; the snapshot is the reference.
    if (writing || stftTouched)
        buildStftState (session, live);
    resumeSpectralLoop (engine, session, playback);
}

} // namespace quorvalen
