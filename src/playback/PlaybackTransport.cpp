#include "playback/PlaybackTransport.h"

namespace quorvalen
{

void PlaybackTransport::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    juce::AudioTransportSource::getNextAudioBlock (info);
    auto& out = *info.buffer;
    if (sourceChannels.load() == 1)
        for (int ch = 1; ch < out.getNumChannels(); ++ch)
            out.copyFrom (ch, info.startSample, out, 0, info.startSample, info.numSamples);
    const float target = gain.load();
    for (int ch = 0; ch < out.getNumChannels(); ++ch)
        out.applyGainRamp (ch, info.startSample, info.numSamples, lastGain, target);
    lastGain = target;
}

} // namespace quorvalen
