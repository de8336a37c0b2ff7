#pragma once
// The frame every whole-signal stroke runs in: snapshot before, playback detached
// around the writes, and either a commit (delta, undo push, resume) or a rollback
// that puts the audio and the STFT state back as they were. A frame that is
// neither committed nor rolled back (an exception left the stroke) rolls back.
#include "spectral/SpectralUndoRecord.h"
#include "spectral/SpectralPlayback.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;

class SpectralStrokeEdit
{
public:
    SpectralStrokeEdit (QuorvalenEngine& engine, SpectralSession& session, juce::AudioBuffer<float>& live);
    ~SpectralStrokeEdit();

    SpectralStrokeEdit (const SpectralStrokeEdit&) = delete;
    SpectralStrokeEdit& operator= (const SpectralStrokeEdit&) = delete;

    // Snapshot of the whole live copy; false when there is nothing to snapshot.
    bool takeSnapshot();
    int channels() const { return record.channels; }
    // Channel c of the live copy as it was before the stroke.
    const float* before (int channel) const;

    // Before the first write to the live buffer.
    void detachPlayback();
    // The stroke has written the session's STFT bins.
    void markStftTouched() { stftTouched = true; }
    // Nothing was changed: leave everything as it is.
    void abandon() { finished = true; }

    // After the last write: the record goes on the undo stack and playback resumes.
    // False (and rolled back) when the delta cannot be built.
    bool commit (std::vector<ZSculptBox> boxes = {});
    // Restores the snapshot, rebuilds the STFT state and resumes playback.
    void rollback() noexcept;

private:
    QuorvalenEngine& engine;
    SpectralSession& session;
    juce::AudioBuffer<float>& live;
    SpectralUndoRecord record;
    std::vector<float> snapshot;
    LivePlayback playback;
    bool writing = false;
    bool stftTouched = false;
    bool finished = false;
};

} // namespace quorvalen
