#pragma once
// Rack module 5: convolution with an impulse response from the library folder,
// band-limited and mixed with the dry signal. Unlike the other modules it also runs
// on the silent tail after the sound.
#include "dsp/OnePole.h"
#include "rack/modules/RackModuleCommon.h"

#include <juce_dsp/juce_dsp.h>

#include <array>
#include <memory>
#include <vector>

namespace quorvalen
{

struct SpaceState
{
    std::unique_ptr<juce::dsp::Convolution> convolution; // null until a response is loaded
    std::vector<juce::File> impulseResponses;            // the list of the last full load
    int loadedIrIndex = -1;                              // spaceIrIndex that was loaded; -1 none
    // What the convolution was prepared for; it never runs with anything else.
    int loadedChannels = 0;
    double loadedSampleRate = 0.0;
    int loadedMaxBlock = 0;
    // The convolution was carried over to another rate or block size by a
    // preparation: it plays on, but the next load is a full one (search and load).
    bool carriedOver = false;
    std::vector<float> dryLeft, dryRight;           // maxBlock each
    std::array<float, 2> highState {}, lowState {}; // wet-path filters per channel
};

class SpaceModule
{
public:
    // Sizes the dry copies for the block size and, when a response is loaded,
    // prepares its convolution again for a changed rate or block size. Host thread.
    void prepare (const RackModuleSpec& spec);
    // Clears the reverb tail and the wet-path filters; the loaded response stays.
    void reset() noexcept;
    // Makes the convolution hold the response chosen by spaceIrIndex. Host thread
    // (or an offline render's); it searches folders and loads files.
    void loadImpulseResponse (const QuorvalenRackSettings& settings, int numChannels, bool force);
    // Audio thread. Never touches the disk itself: a new spaceIrIndex is handed to
    // the convolution's own loader thread, from the list of the last full load.
    void process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);

    SpaceState& state() noexcept { return space; }
    const SpaceState& state() const noexcept { return space; }

private:
    double sampleRate = 44100.0;
    int maxBlock = 512;
    SpaceState space;
    // The wet path's 300 Hz high-pass, and its low-pass that follows the size.
    float highCoefficient = dsp::onePoleCoefficientBelowNyquist (300.0, 44100.0);
    dsp::CoefficientCache sizeCoefficient;
};

} // namespace quorvalen
