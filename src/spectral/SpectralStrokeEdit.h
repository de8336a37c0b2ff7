#pragma once
// The frame every stroke runs in, inside its SessionWork: the stroke reads the
// live copy, changes the session's STFT state and works out the new audio on its
// copies; commit installs that audio and then pushes the undo record. A stroke
// that fails or stops before its install changes nothing: the STFT frames it
// changed are analysed again from the audio as it read it.
#include "spectral/SessionWork.h"
#include "spectral/SpectralUndoRecord.h"
#include "spectral/StrokeError.h"

#include <cstdint>
#include <vector>

namespace quorvalen
{

struct SpectralSession;

class SpectralStrokeEdit
{
public:
    SpectralStrokeEdit (SessionWork& work, SpectralSession& session);
    ~SpectralStrokeEdit();

    SpectralStrokeEdit (const SpectralStrokeEdit&) = delete;
    SpectralStrokeEdit& operator= (const SpectralStrokeEdit&) = delete;

    // Before the stroke changes STFT frames `frames`: on failure they are analysed
    // again from `before`, which holds what they read and outlives the frame.
    void stftChanging (std::vector<IndexSpan> frames, const SampleWindow& before);
    // Nothing was changed, or what was is kept.
    void abandon() noexcept { finished = true; }

    // Fills the record's delta unless the stroke did (after minus before over the record's range, 0
    // where the copies do not reach; both copies hold the same samples), installs
    // `after` over `spans` and pushes the record. Anything but ok: nothing was
    // installed and the frame undoes the STFT changes.
    LiveState commit (const SampleWindow& before, SampleWindow after, const std::vector<IndexSpan>& spans,
                      SpectralUndoRecord record);

private:
    void restoreStft() noexcept;

    SessionWork& work;
    SpectralSession& session;
    std::vector<IndexSpan> changedFrames;
    const SampleWindow* reference = nullptr;
    bool finished = false;
};

// Puts STFT frames that an operation changed back as `before` (the audio as it
// read it, holding what the frames read) gives them, after the operation failed.
// Nothing when the session ended; the state emptied (rebuilt by the next
// operation that needs it) when the live copy is gone or memory runs out.
void restoreStftFrames (SessionWork& work, SpectralSession& session, const std::vector<IndexSpan>& frames,
                        const SampleWindow& before) noexcept;

// What a stroke answers when its work could not go on: -3 the session is gone;
// -4 the live copy is gone (`liveGone` gives the knife's own code for that);
// -5 it changed under the stroke.
int strokeCode (LiveState state, StrokeError liveGone = StrokeError::liveGone);

} // namespace quorvalen
