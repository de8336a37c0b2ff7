#pragma once
// The frame every stroke runs in: snapshot before, playback detached
// around the writes, and either a commit (delta, undo push, resume) or a rollback
// that puts the audio and the STFT state back as they were. A frame that is
// neither committed nor rolled back (an exception left the stroke) rolls back.
#include "spectral/SpectralPlayback.h"
#include "spectral/SpectralUndoRecord.h"
#include "spectral/StrokeError.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
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

    // Narrows the stroke to samples [start, end) (clamped to the session) before
    // the snapshot: only they may be written, and the record covers only them.
    void limitTo (std::int64_t start, std::int64_t end);
    // Snapshot of the stroke's range; false when there is nothing to snapshot.
    bool takeSnapshot();
    std::int64_t start() const { return record.start; }
    int channels() const { return record.channels; }
    // Channel c of the live copy as it was before the stroke, from start().
    const float* before (int channel) const;

    // Before the first write to the live buffer.
    void detachPlayback();
    // The stroke has written the session's STFT bins.
    void markStftTouched() { stftTouched = true; }
    // Nothing was changed: leave everything as it is.
    void abandon() { finished = true; }

    // After the last write: the record goes on the undo stack and playback resumes.
    // False (and rolled back) when the delta cannot be built.
    bool commit (std::vector<ZSculptBox> boxes = {}, std::vector<LaserStrokeRecord> laser = {});
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
