#pragma once
// Rendering a cached sound through the rack without the audio device, into a
// 24-bit WAV file. Each module runs over the whole sound on a fresh processing
// state; the frequency-shift module is replaced offline by a Rubber Band pitch
// pass, optionally followed by a long drone stretch.
#include "rack/QuorvalenRackSettings.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

enum RenderResult : int
{
    renderOk = 0,
    renderNullArgument = -1,  // json or outPath null
    renderNoEntry = -2,       // the id is not cached
    renderNoBuffer = -3,      // the entry holds no audio
    renderBadSampleRate = -4, // the entry's rate is not a positive finite number
    renderFailed = -5,        // settings not a JSON object, a stage failed, or memory ran out
    renderStreamFailed = -6,  // the output file could not be opened
    renderWriterFailed = -7,  // no WAV writer for this shape
    renderWriteFailed = -8,   // the data or the final replace did not complete
};

// Takes engineMutex only to copy the entry; the rack, the stretches and the file
// run on the calling thread on private data. An existing file at outPath is
// replaced only by a complete new one.
int renderCachedWithProcessing (QuorvalenEngine& engine, std::uint32_t cacheId, const char* json, const char* outPath);

// Parses the document and runs the rack over `buffer` in place (it may grow).
// False for a document that is not a JSON object or a stage that fails.
bool renderRackOffline (juce::AudioBuffer<float>& buffer, double sampleRate, const char* json);

// Shared by the module renders of one rack render.
struct OfflineRenderContext
{
    juce::AudioBuffer<float>& buffer;
    double sampleRate;
    bool tailAdded = false; // the space tail is appended once per render
};

bool renderRackModuleOffline (OfflineRenderContext& context, int module, const QuorvalenRackSettings& settings);
bool renderFreqShiftOffline (juce::AudioBuffer<float>& buffer, double sampleRate,
                             const QuorvalenRackSettings& settings);

// The drone's stretch (2..20) and limits: at most 106 s out, and only the input
// that output needs (plus a quarter second of run-out below a 12x stretch),
// within what is there.
struct DroneLengths
{
    double stretch;
    int maxOutput;
    int sourceLength;
};
DroneLengths droneLengths (double sampleRate, float droneStretch, int availableSamples) noexcept;

// Scales the buffer down so that its peak is 0.98 when it peaks above that.
void limitPeak (juce::AudioBuffer<float>& buffer) noexcept;

} // namespace quorvalen
