#pragma once
// Offline time stretch and pitch shift of a whole buffer through Rubber Band's
// offline stretcher (a study pass, then a process pass). The rack's offline
// frequency-shift and drone stages use it, and so does render surprise.
#include <juce_audio_basics/juce_audio_basics.h>

#include <rubberband/RubberBandStretcher.h>

#include <functional>

namespace quorvalen
{

// Option words of the offline stages; none asks for real-time mode.
namespace stretchOptions
{
using RB = RubberBand::RubberBandStretcher;

// Faster engine with short windows and the percussive detector: the beat mode.
inline constexpr int beat = RB::OptionChannelsTogether | RB::OptionPitchHighQuality | RB::OptionWindowShort
    | RB::OptionThreadingNever | RB::OptionDetectorPercussive;
// Finer engine: the synth and ambi modes, and the default stretch.
inline constexpr int finer =
    RB::OptionEngineFiner | RB::OptionChannelsTogether | RB::OptionPitchHighQuality | RB::OptionThreadingNever;
// Finer engine for the long drone stretch.
inline constexpr int drone = RB::OptionEngineFiner | RB::OptionChannelsTogether | RB::OptionThreadingNever;
// The library's own defaults (faster engine, channels apart, its own threading):
// both stages of the ambi drone.
inline constexpr int libraryDefaults = RB::DefaultOptions;
} // namespace stretchOptions

// Sample rates the stretcher supports.
inline constexpr double stretchMinSampleRate = 8000.0;
inline constexpr double stretchMaxSampleRate = 192000.0;

// Stretches `source` to timeRatio times its length (at least 0.05) and scales its
// pitch by pitchScale (at least 0.01), in blocks of blockSize samples. The pitch
// is fixed for the whole buffer: the offline stretcher takes it only before its
// study pass. `destination` becomes the result (same channels, the stretcher's
// output length) and may reuse its storage.
// False, with `destination` untouched, for a buffer without channels or samples,
// a rate outside 8 kHz..192 kHz, a non-finite ratio or scale, a result longer than
// 2^31-1 samples or memory exhausted; also once `stopped` (asked before every
// block) says so.
bool stretchBuffer (const juce::AudioBuffer<float>& source, juce::AudioBuffer<float>& destination, double sampleRate,
                    double timeRatio, double pitchScale, int options, int blockSize,
                    const std::function<bool()>& stopped = {});

// Time stretch alone with the finer engine in 4096-sample blocks.
bool stretchBufferDefault (const juce::AudioBuffer<float>& source, juce::AudioBuffer<float>& destination,
                           double sampleRate, double timeRatio, const std::function<bool()>& stopped = {});

} // namespace quorvalen
