#include "rack/modules/SpectralDelayModule.h"

#include "dsp/OnePole.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

namespace
{
// Below this the line cannot hold the modulated delay; the module then stays out.
constexpr size_t minimumLineLength = 8;

bool delayStateFinite (const SpectralDelayState& delay) noexcept
{
    return allFinite (
        { delay.lowPassLeft, delay.lowPassRight, delay.noiseLeft, delay.noiseRight, delay.levelEnvelope });
}
} // namespace

void SpectralDelayModule::prepare (const RackModuleSpec& spec)
{
    sampleRate = spec.sampleRate;
    frame.prepare (spec.maxBlock);
    // 12 ms at the oversampled rate, and never shorter than four oversampled blocks.
    const auto length = std::max<long long> (4LL * spec.maxBlock + 16, std::llrint (spec.sampleRate * 4.0 * 0.012));
    delay.lineLeft.assign ((size_t) length, 0.0f);
    delay.lineRight.assign ((size_t) length, 0.0f);
    delay.writeIndex = 0;
    const double r4 = 4.0 * spec.sampleRate;
    noiseCoefficient = dsp::onePoleCoefficientBelowNyquist (2000.0, r4);
    timeCoefficient.invalidate();
    envelopeCoefficient = (float) (1.0 - std::exp (-31.415928 / r4)); // 5 Hz
    reset();
}

void SpectralDelayModule::clearState()
{
    delay.lowPassLeft = delay.lowPassRight = 0.0f;
    delay.noiseLeft = delay.noiseRight = 0.0f;
    delay.levelEnvelope = 0.0f;
    std::fill (delay.lineLeft.begin(), delay.lineLeft.end(), 0.0f);
    std::fill (delay.lineRight.begin(), delay.lineRight.end(), 0.0f);
    delay.writeIndex = 0;
}

void SpectralDelayModule::reset()
{
    clearState();
    frame.reset();
}

void SpectralDelayModule::process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes)
{
    if (! settings.spectralDelay.enabled)
        return;
    const size_t lineLength = std::min (delay.lineLeft.size(), delay.lineRight.size());
    if (lineLength < minimumLineLength)
        return;

    juce::ScopedNoDenormals noDenormals;

    const float t = lanes.read (rackParameter::spectralDelayTime, settings.spectralDelay.time) / 100.0f;
    const float m = lanes.read (rackParameter::spectralDelayMix, settings.spectralDelay.mix) / 100.0f;
    const int N = (int) lineLength;

    const double r4 = 4.0 * sampleRate;
    const float loopCoefficient = timeCoefficient.get (t, [r4] (float time) {
        return dsp::onePoleCoefficientAt (std::clamp (14000.0 - 9000.0 * (double) time, 5.0, 0.45 * r4), r4);
    });

    const float wetGain = 0.35f + 0.65f * t;
    const float push = 1.0f + 0.4f * t;
    const float dryGain = 1.0f - 0.35f * t;
    const float noiseScale = 0.0065f * m;
    const float ceiling = 1.0f / std::tanh (1.04f);
    const double startSeconds = (double) lanes.timeline().position / sampleRate;

    // A write index left over from a differently sized line must not index past it.
    if (delay.writeIndex < 0 || delay.writeIndex >= N)
        delay.writeIndex = 0;

    bool outputFinite = true;
    const bool ran =
        frame.run (block.buffer, block.start, block.count, outputFinite, [&] (juce::dsp::AudioBlock<float>& up) {
            float* lines[2] = { delay.lineLeft.data(), delay.lineRight.data() };
            float* lowPass[2] = { &delay.lowPassLeft, &delay.lowPassRight };
            float* hiss[2] = { &delay.noiseLeft, &delay.noiseRight };
            float* channels[2] = { up.getChannelPointer (0), up.getChannelPointer (1) };
            const int samples = (int) up.getNumSamples();
            int w = delay.writeIndex;

            for (int j = 0; j < samples; ++j)
            {
                delay.levelEnvelope +=
                    ((std::abs (channels[0][j]) + std::abs (channels[1][j])) * 0.5f - delay.levelEnvelope)
                    * envelopeCoefficient;
                const float noiseAmp = noiseScale * (2.0f + 0.9f * std::clamp (4.0f * delay.levelEnvelope, 0.0f, 1.0f));

                // Slow drift of the delay time; the sine arguments are radians per second.
                const double tau = startSeconds + (double) j / r4;
                const double seconds = std::clamp (
                    0.002 + 0.0013 * t * std::sin (0.3 * tau) + 0.0004 * t * std::sin (4.3 * tau), 0.0002, 0.006);
                const double delaySamples = r4 * seconds;
                double rp = (double) w - delaySamples;
                if (rp < 0.0)
                    rp += (double) N;
                if (! (rp >= 0.0 && rp < (double) N)) // only a line shorter than the delay gets here
                    rp = std::clamp (rp - std::floor (rp / N) * N, 0.0, (double) N - 1.0);
                const int i0 = ((int) rp) % N;
                const int i1 = (i0 + 1) % N;
                const float f = (float) (rp - std::floor (rp));

                // Left then right at each sample: the noise draws follow this order.
                for (int c = 0; c < 2; ++c)
                {
                    float* line = lines[c];
                    const float x = channels[c][j];
                    line[w] = x;
                    const float y = (1.0f - f) * line[i0] + f * line[i1];
                    *lowPass[c] += (y - *lowPass[c]) * loopCoefficient;
                    const float r = noise.next() * noiseAmp;
                    *hiss[c] += (2.0f * r - *hiss[c]) * noiseCoefficient;
                    const float highPassed = 2.0f * r - *hiss[c];
                    const float wet = std::tanh ((std::tanh (*lowPass[c] * push) + highPassed) * push);
                    channels[c][j] = std::tanh ((wet * wetGain + x * dryGain) * 0.82f * 1.04f) * ceiling;
                }
                w = (w + 1) % N;
            }
            delay.writeIndex = w;
        });

    if (! ran)
        return;
    const bool healthy = outputFinite && delayStateFinite (delay);
    jassert (healthy);
    if (! healthy)
    {
        // The lines may hold non-finite samples too: clear the whole module.
        clearState();
        frame.filters().reset();
    }
}

} // namespace quorvalen
