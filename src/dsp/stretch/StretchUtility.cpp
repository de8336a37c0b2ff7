#include "dsp/stretch/StretchUtility.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <thread>
#include <vector>

namespace quorvalen
{

// The offline stages' option words, against the installed library's flag values.
static_assert (stretchOptions::beat == 0x12110400);
static_assert (stretchOptions::finer == 0x32010000);
static_assert (stretchOptions::drone == 0x30010000);
static_assert (stretchOptions::libraryDefaults == 0);

namespace
{
constexpr double maxOutputSamples = (double) std::numeric_limits<int>::max();

using ChannelVectors = std::vector<std::vector<float>>;

// Moves what the stretcher has ready into the per-channel outputs; stops when
// nothing is ready or a retrieve delivers nothing.
void retrieveAvailable (RubberBand::RubberBandStretcher& stretcher, ChannelVectors& outputs,
                        std::vector<float*>& scratch, size_t block)
{
    for (int available = stretcher.available(); available > 0; available = stretcher.available())
    {
        const size_t want = std::min ((size_t) available, block);
        const size_t got = stretcher.retrieve (scratch.data(), want);
        if (got == 0)
            return;
        for (size_t ch = 0; ch < outputs.size(); ++ch)
            outputs[ch].insert (outputs[ch].end(), scratch[ch], scratch[ch] + got);
    }
}

// Everything the stretcher still holds after the final block. When it runs
// threads of its own (the library's default threading), "nothing ready" may only
// mean that they are still working: keep collecting until it reports the end, or
// the last part of the output would be lost at random.
void drainStretcher (RubberBand::RubberBandStretcher& stretcher, ChannelVectors& outputs, std::vector<float*>& scratch,
                     size_t block, bool ownThreads)
{
    constexpr int maxIdleWaits = 10000; // 10 s without any new output: give up
    int idle = 0;
    for (;;)
    {
        const auto before = outputs[0].size();
        retrieveAvailable (stretcher, outputs, scratch, block);
        if (stretcher.available() < 0 || ! ownThreads)
            return;
        idle = outputs[0].size() == before ? idle + 1 : 0;
        if (idle > maxIdleWaits)
            return;
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
}
} // namespace

bool stretchBuffer (const juce::AudioBuffer<float>& source, juce::AudioBuffer<float>& destination, double sampleRate,
                    double timeRatio, double pitchScale, int options, int blockSize,
                    const std::function<bool()>& stopped)
{
    const int channels = source.getNumChannels();
    const int n = source.getNumSamples();
    if (channels < 1 || n < 1 || ! std::isfinite (sampleRate) || ! (sampleRate > 0.0))
        return false;
    if (! std::isfinite (timeRatio) || ! std::isfinite (pitchScale))
        return false;
    const auto rate = std::llround (sampleRate);
    if (rate < (long long) stretchMinSampleRate || rate > (long long) stretchMaxSampleRate)
        return false;

    timeRatio = std::max (timeRatio, 0.05);
    pitchScale = std::max (pitchScale, 0.01);
    const auto block = (size_t) std::max (blockSize, 1);

    // Refuse an impossible result before any work or allocation.
    const double expected = std::ceil ((double) n * timeRatio);
    if (expected > maxOutputSamples)
        return false;

    juce::ScopedNoDenormals noDenormals;
    try
    {
        // The pitch goes to the constructor: offline, the stretcher refuses (and
        // logs) any pitch change once its study pass has begun.
        RubberBand::RubberBandStretcher stretcher ((size_t) rate, (size_t) channels,
                                                   (RubberBand::RubberBandStretcher::Options) options, timeRatio,
                                                   pitchScale);
        stretcher.setExpectedInputDuration ((size_t) n);
        stretcher.setMaxProcessSize (block);

        std::vector<const float*> input ((size_t) channels);
        auto pointAt = [&] (int start) {
            for (int ch = 0; ch < channels; ++ch)
                input[(size_t) ch] = source.getReadPointer (ch, start);
        };

        for (int start = 0; start < n; start += (int) block)
        {
            if (stopped && stopped())
                return false;
            const int count = (int) std::min<size_t> (block, (size_t) (n - start));
            pointAt (start);
            stretcher.study (input.data(), (size_t) count, start + count == n);
        }

        ChannelVectors outputs ((size_t) channels);
        for (auto& o : outputs)
            o.reserve ((size_t) expected + block);
        std::vector<std::vector<float>> scratchStore ((size_t) channels, std::vector<float> (block));
        std::vector<float*> scratch;
        for (auto& s : scratchStore)
            scratch.push_back (s.data());

        // Never more input per call than the stretcher asks for: a whole block at
        // a large ratio makes more output than the finer engine can hold at once,
        // and it drops the excess without a word.
        for (int start = 0; start < n;)
        {
            if (stopped && stopped())
                return false;
            const auto wanted = std::max<size_t> (stretcher.getSamplesRequired(), 1);
            const int count = (int) std::min ({ block, (size_t) (n - start), wanted });
            pointAt (start);
            stretcher.process (input.data(), (size_t) count, start + count == n);
            start += count;
            retrieveAvailable (stretcher, outputs, scratch, block);
        }
        drainStretcher (stretcher, outputs, scratch, block,
                        (options & RubberBand::RubberBandStretcher::OptionThreadingNever) == 0);

        size_t length = outputs[0].size();
        for (const auto& o : outputs)
            length = std::min (length, o.size());
        if (length == 0 || (double) length > maxOutputSamples)
            return false;

        destination.setSize (channels, (int) length, false, false, true);
        for (int ch = 0; ch < channels; ++ch)
            destination.copyFrom (ch, 0, outputs[(size_t) ch].data(), (int) length);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool stretchBufferDefault (const juce::AudioBuffer<float>& source, juce::AudioBuffer<float>& destination,
                           double sampleRate, double timeRatio, const std::function<bool()>& stopped)
{
    return stretchBuffer (source, destination, sampleRate, timeRatio, 1.0, stretchOptions::finer, 4096, stopped);
}

} // namespace quorvalen
