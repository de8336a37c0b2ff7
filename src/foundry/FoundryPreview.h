#pragma once
// The Foundry preview: layers cut and shaped from up to four cached sounds, joined,
// overlaid and finished into one one-shot that plays, refreshes into running
// playback or is written as a WAV file.
#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

inline constexpr int previewParameterCount = 57;

// The 57 preview arguments in the exports' order, held as doubles (ids and modes
// as their values, flags as 0 or 1, floats widened: all exact, NaN kept).
struct FoundryPreviewArgs
{
    std::array<double, previewParameterCount> p {};

    // Parameter n, counted from 1 as in the exports.
    float f (int n) const noexcept { return (float) p[(size_t) n - 1]; }
    std::int32_t i (int n) const noexcept { return (std::int32_t) p[(size_t) n - 1]; }
    bool flag (int n) const noexcept { return p[(size_t) n - 1] != 0.0; }
};

// Parameters that are flags (stored as 0 or 1).
inline constexpr std::array<int, 9> previewFlagParameters { 12, 15, 22, 25, 35, 36, 39, 51, 53 };

// A finished preview and its sample rate.
struct FinishedPreview
{
    std::unique_ptr<juce::AudioBuffer<float>> audio;
    double sampleRate = 0.0;
};

// Takes a finished preview into the engine; runs with the engine mutex held.
using PreviewInstall = std::function<void (FinishedPreview&)>;

// A time of a layer in use (join points, crossfades, overlay times) or the
// length asks for more than the Foundry makes (10 minutes at the render rate).
bool previewTimeBeyondLimit (const FoundryPreviewArgs& args);

// The renderer: holds the render lock, renders (or reuses the cached preview)
// into a buffer of its own and hands the result to `install` under the engine
// mutex. 0 or the first failing stage's code; 7 before anything (playback
// stopped included) when a time of a layer in use is past the Foundry's limit.
int renderFoundryPreview (QuorvalenEngine& engine, const FoundryPreviewArgs& args, bool liveFilter, bool stopFirst,
                          const PreviewInstall& install);

// The play export's body: renders and plays (looping with loop).
int playCachedFoundryPreview (QuorvalenEngine& engine, const FoundryPreviewArgs& args, bool play, bool liveFilter,
                              bool loop);

// Re-renders and swaps the new preview into running playback without a gap.
// 0, 1 nothing attached or not ready, the renderer's code, or 7.
int refreshFoundryPreview (QuorvalenEngine& engine, const FoundryPreviewArgs& args);

// Renders and writes a 24-bit WAV file. 0, 8 no path (null, empty or not UTF-8),
// 7 a time past the limit (both before playback stops), the renderer's code, 7 no
// preview, 5 bad rate, 9 stream, 10 writer, 11 write failed.
int exportFoundryPreview (QuorvalenEngine& engine, const FoundryPreviewArgs& args, const char* path);

// The finish on the render's own buffer: final pitch, length, character and the
// end fade. Null when there is nothing to finish or lengthMs is past the
// Foundry's limit; a lengthMs that is not a number sets no length.
std::unique_ptr<juce::AudioBuffer<float>> finaliseFoundryPreview (const juce::AudioBuffer<float>& rendered, double rate,
                                                                  float lengthMs, float minimumFadeMs,
                                                                  float finalSemitones, float character);

} // namespace quorvalen::foundry
