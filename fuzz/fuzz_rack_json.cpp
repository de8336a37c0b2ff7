// Rack settings documents through the update export, then a few blocks of a live
// rack running the published record over a tone.
#include "FuzzSupport.h"

#include "engine/QuorvalenEngine.h"
#include "rack/QuorvalenProcessingRackSource.h"

#include <juce_audio_basics/juce_audio_basics.h>

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    qvfuzz::Bytes in (data, size);
    const auto json = in.text();
    if (quorvalen_engine_update_processing_rack (json.c_str()) != 0)
        return 0;

    // A private rack (not the engine's, which the headless device pulls) so the
    // blocks run here, in step with the input.
    juce::ToneGeneratorAudioSource tone;
    tone.setFrequency (220.0);
    tone.setAmplitude (0.5f);
    quorvalen::QuorvalenProcessingRackSource rack (&tone);
    rack.publishSettings (quorvalen::engine().rackSource.currentSettings());
    rack.prepareToPlay (256, 48000.0);
    rack.prepareRackPlayback (48000, (size & 1) != 0, 0, false);
    rack.setProcessingEnabled (true);
    juce::AudioBuffer<float> block (2, 256);
    for (int i = 0; i < 4; ++i)
        rack.getNextAudioBlock (juce::AudioSourceChannelInfo (&block, 0, 256));
    rack.releaseResources();
    return 0;
}
