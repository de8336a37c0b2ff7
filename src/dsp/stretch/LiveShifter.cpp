#include "dsp/stretch/LiveShifter.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>

namespace quorvalen::platform
{

namespace
{
using Stretcher = RubberBand::RubberBandStretcher;

constexpr std::size_t retrieveFrames = 1024;
// How far the time ratio leans while the ring refills or drains: small enough to be
// inaudible on a pitch shifter, large enough to win back a window within seconds.
constexpr double steeringAmount = 0.03;

Stretcher::Options stretcherOptions (int options) noexcept
{
    // The finer engine in real-time mode, on the calling thread only: the audio
    // thread must never wait for a helper thread.
    Stretcher::Options o =
        Stretcher::OptionProcessRealTime | Stretcher::OptionEngineFiner | Stretcher::OptionThreadingNever;
    o |= (options & LiveShifter::windowMedium) != 0 ? Stretcher::OptionWindowStandard : Stretcher::OptionWindowShort;
    o |= (options & LiveShifter::channelsTogether) != 0 ? Stretcher::OptionChannelsTogether
                                                        : Stretcher::OptionChannelsApart;
    return o;
}
} // namespace

LiveShifter::LiveShifter (double sampleRate, int channels, int options)
{
    if (! std::isfinite (sampleRate) || sampleRate < minSampleRate || sampleRate > maxSampleRate || channels < 1
        || channels > maxChannels)
        return;

    channelCount = channels;
    stretcher = std::make_unique<Stretcher> ((std::size_t) std::llround (sampleRate), (std::size_t) channels,
                                             stretcherOptions (options), 1.0, 1.0);
    stretcher->setMaxProcessSize ((std::size_t) blockFrames);

    // The stretcher's output trails its aligned position by up to about one input
    // window at unity, and by more while it resamples for a shifted pitch. Twice the
    // window plus a block keeps the ring from running dry at any ratio in 0.5..2.
    const auto window = stretcher->getSamplesRequired();
    startDelay = (int) (2 * window + (std::size_t) blockFrames);
    lowWater = 2 * (std::size_t) blockFrames;
    refill = (std::size_t) startDelay - window;
    highWater = (std::size_t) startDelay + 2 * (std::size_t) blockFrames;

    ringSize = (std::size_t) startDelay + 4 * window + 4 * (std::size_t) blockFrames;
    ring.assign ((std::size_t) channels, std::vector<float> (ringSize, 0.0f));
    scratch.assign ((std::size_t) channels, std::vector<float> (retrieveFrames, 0.0f));
    staged.assign ((std::size_t) channels, std::vector<float> ((std::size_t) blockFrames, 0.0f));
    for (auto& s : scratch)
        scratchPtrs.push_back (s.data());
    for (auto& s : staged)
        stagedPtrs.push_back (s.data());

    prime();
}

LiveShifter::~LiveShifter() = default;

void LiveShifter::prime() noexcept
{
    juce::ScopedNoDenormals noDenormals;
    stretcher->reset();
    stretcher->setTimeRatio (1.0);
    stretcher->setPitchScale (pitchScale);
    timeRatio = 1.0;
    steering = Steering::none;
    underruns = 0;
    started = false;

    // The ring starts holding the whole start delay as silence; the stretcher's own
    // delay after its start padding is dropped from its output instead.
    for (auto& r : ring)
        std::fill (r.begin(), r.end(), 0.0f);
    ringRead = 0;
    ringCount = (std::size_t) startDelay;
    discard = stretcher->getStartDelay();

    for (auto& s : staged)
        std::fill (s.begin(), s.end(), 0.0f);
    auto pad = stretcher->getPreferredStartPad();
    while (pad > 0)
    {
        const auto count = std::min (pad, (std::size_t) blockFrames);
        stretcher->process (stagedPtrs.data(), count, false);
        pad -= count;
        pullOutput();
    }
}

void LiveShifter::reset() noexcept
{
    if (stretcher != nullptr)
        prime();
}

double LiveShifter::quantisePitchScale (double scale) noexcept
{
    // The resampler runs at 1 / scale and tabulates one filter phase per unit of that
    // ratio's numerator in lowest terms; an arbitrary double gives numerators near
    // 10^5 and a table it reallocates on the audio thread. A ratio on a grid of
    // 1/2048 keeps every numerator within the table it sizes at construction, at a
    // cost of under 2 cents of pitch resolution.
    const double steps =
        std::clamp (std::round (ratioGrid / scale), ratioGrid / maxPitchScale, ratioGrid * maxPitchScale);
    return ratioGrid / steps;
}

void LiveShifter::setPitchScale (double scale) noexcept
{
    if (! std::isfinite (scale) || scale <= 0.0)
        return;
    scale = quantisePitchScale (scale);
    if (scale == pitchScale)
        return;
    pitchScale = scale;
    if (stretcher == nullptr)
        return;
    // The stretcher's own delay depends on the ratio: until audio has gone through,
    // prime again so the reported delay stays exact for the ratio it starts with.
    if (! started)
        prime();
    else
        stretcher->setPitchScale (scale);
}

void LiveShifter::pullOutput() noexcept
{
    for (;;)
    {
        const int available = stretcher->available();
        if (available <= 0)
            break;
        const auto got = stretcher->retrieve (scratchPtrs.data(), std::min ((std::size_t) available, retrieveFrames));
        if (got == 0)
            break;

        std::size_t from = std::min (discard, got);
        discard -= from;
        for (; from < got && ringCount < ringSize; ++from)
        {
            const auto at = (ringRead + ringCount) % ringSize;
            for (int c = 0; c < channelCount; ++c)
                ring[(std::size_t) c][at] = scratch[(std::size_t) c][from];
            ++ringCount;
        }
        // Anything beyond a full ring is dropped; steering keeps it from filling.
    }
}

void LiveShifter::steerTimeRatio() noexcept
{
    const auto fill = ringFill();
    switch (steering)
    {
        case Steering::none:
            if (fill < lowWater)
                steering = Steering::refilling;
            else if (fill > highWater)
                steering = Steering::draining;
            break;
        case Steering::refilling:
            if (fill >= refill)
                steering = Steering::none;
            break;
        case Steering::draining:
            if (fill <= (std::size_t) startDelay)
                steering = Steering::none;
            break;
    }

    const double wanted = steering == Steering::refilling ? 1.0 + steeringAmount
        : steering == Steering::draining                  ? 1.0 - steeringAmount
                                                          : 1.0;
    if (wanted != timeRatio)
    {
        timeRatio = wanted;
        stretcher->setTimeRatio (wanted);
    }
}

void LiveShifter::shift (const float* const* input, float* const* output) noexcept
{
    if (stretcher == nullptr)
    {
        if (output != nullptr)
            for (int c = 0; c < maxChannels; ++c)
                if (output[c] != nullptr)
                    std::fill (output[c], output[c] + blockFrames, 0.0f);
        return;
    }

    juce::ScopedNoDenormals noDenormals;
    for (int c = 0; c < channelCount; ++c)
    {
        auto* dst = staged[(std::size_t) c].data();
        const float* src = input != nullptr ? input[c] : nullptr;
        if (src == nullptr)
        {
            std::fill (dst, dst + blockFrames, 0.0f);
            continue;
        }
        // One bad sample would poison the stretcher's spectra for good.
        for (int i = 0; i < blockFrames; ++i)
            dst[i] = std::isfinite (src[i]) ? src[i] : 0.0f;
    }

    started = true;
    stretcher->process (stagedPtrs.data(), (std::size_t) blockFrames, false);
    pullOutput();
    steerTimeRatio();

    const auto count = std::min (ringCount, (std::size_t) blockFrames);
    if (count < (std::size_t) blockFrames)
        ++underruns;
    for (int c = 0; c < channelCount; ++c)
    {
        float* dst = output != nullptr ? output[c] : nullptr;
        const auto& r = ring[(std::size_t) c];
        for (std::size_t i = 0; i < (std::size_t) blockFrames; ++i)
        {
            const float v = i < count ? r[(ringRead + i) % ringSize] : 0.0f;
            if (dst != nullptr)
                dst[i] = v;
        }
    }
    ringRead = (ringRead + count) % ringSize;
    ringCount -= count;
}

} // namespace quorvalen::platform
