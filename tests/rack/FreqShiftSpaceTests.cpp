#include "TestAudio.h"

#include "rack/ImpulseResponseLibrary.h"
#include "rack/RackProcessingState.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace quorvalen;

namespace
{
constexpr double rate = 48000.0;

std::shared_ptr<const QuorvalenRackSettings> settings (const std::string& json)
{
    auto s = parseRackSettings (json.c_str());
    EXPECT_NE (s, nullptr) << json;
    return s;
}

juce::AudioBuffer<float> noise (int samples, int channels = 2, float amplitude = 0.4f)
{
    return qvtest::noiseBuffer (samples, (std::uint64_t) samples, amplitude, channels);
}

// A folder named by the variable holding a.wav, b.wav, ... of the given lengths.
void responses (std::initializer_list<int> lengths)
{
    const juce::File dir (qvtest::tempDir());
    char name[] = "a.wav";
    for (int length : lengths)
    {
        qvtest::writeWav (dir.getChildFile (name).getFullPathName().toStdString(), qvtest::decayingNoise (length, (std::uint64_t) length, (float) length / 3.0f), rate);
        ++name[0];
    }
    setenv (impulseResponseDirVariable, dir.getFullPathName().toRawUTF8(), 1);
}

std::unique_ptr<RackProcessingState> state (double sampleRate = rate, int block = 512)
{
    auto s = std::make_unique<RackProcessingState> (false);
    prepareRackState (*s, sampleRate, block);
    s->playLength = s->loopLength = 1 << 24;
    return s;
}

// One module over the whole buffer in 512-sample blocks, as the offline render runs it.
void render (RackProcessingState& st, juce::AudioBuffer<float>& b, int module, const QuorvalenRackSettings& s)
{
    for (int start = 0; start < b.getNumSamples(); start += 512)
    {
        const int count = std::min (512, b.getNumSamples() - start);
        runRackModule (st, b, start, count, module, s);
        st.position += count;
    }
}

bool identical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int channel)
{
    return std::memcmp (a.getReadPointer (channel), b.getReadPointer (channel),
                        sizeof (float) * (size_t) a.getNumSamples())
        == 0;
}
} // namespace

TEST (SpaceModule, WetZeroIsTheInputAndChannelsPastTheSecondPassUntouched)
{
    responses ({ 9600 });
    auto st = state();
    const auto dry = settings (R"({"spaceEnabled": true, "spaceWet": 0})");
    st->space.loadImpulseResponse (*dry, 2, true);
    ASSERT_NE (st->space.state().convolution, nullptr);
    const auto in = noise (48000);
    auto out = in;
    render (*st, out, rackModuleSpace, *dry);
    EXPECT_TRUE (identical (in, out, 0) && identical (in, out, 1));

    // Four channels, offline style: the reverb lands on the first two only.
    auto four = state();
    const auto wet = settings (R"({"spaceEnabled": true, "spaceWet": 70})");
    four->space.loadImpulseResponse (*wet, 4, false);
    EXPECT_EQ (four->space.state().loadedChannels, 2);
    auto burst = noise (48000, 4);
    for (int c = 0; c < 4; ++c)
        juce::FloatVectorOperations::clear (burst.getWritePointer (c, 4800), 48000 - 4800);
    auto processed = burst;
    render (*four, processed, rackModuleSpace, *wet);
    EXPECT_TRUE (identical (burst, processed, 2) && identical (burst, processed, 3));
    EXPECT_FALSE (identical (burst, processed, 0));
    EXPECT_GT (qvtest::rms (processed.getReadPointer (0, 6000), 2400), 1.0e-4f); // the tail rings on after the sound
    EXPECT_TRUE (qvtest::allFinite (processed));
}

TEST (SpaceModule, WetPathIsTheBandLimitedConvolutionMixedAtFixedGains)
{
    // A one-sample response: normalised, the convolution is 0.125 x the input, so
    // the whole module has a closed form.
    const juce::File dir (qvtest::tempDir());
    juce::AudioBuffer<float> click (2, 64);
    click.clear();
    click.setSample (0, 0, 0.5f);
    click.setSample (1, 0, 0.5f);
    qvtest::writeWav (dir.getChildFile ("click.wav").getFullPathName().toStdString(), click, rate);
    setenv (impulseResponseDirVariable, dir.getFullPathName().toRawUTF8(), 1);

    for (const auto& [wet, size] : { std::pair { 100.0f, 0.0f }, std::pair { 40.0f, 100.0f } })
    {
        const auto s = settings (R"({"spaceEnabled": true, "spaceWet": )" + std::to_string (wet) + R"(, "spaceSize": )"
                                 + std::to_string (size) + "}");
        auto st = state();
        st->space.loadImpulseResponse (*s, 2, true);
        ASSERT_NE (st->space.state().convolution, nullptr);
        const auto in = noise (9600);
        auto out = in;
        render (*st, out, rackModuleSpace, *s);

        const double twoPi = 2.0 * juce::MathConstants<double>::pi;
        const double high = 1.0 - std::exp (-twoPi * 300.0 / rate);
        const double low = 1.0 - std::exp (-twoPi * std::min (0.45 * rate, 1500.0 + 165.0 * size) / rate);
        const double dryGain = 1.0 - wet / 100.0 * 0.45, wetGain = wet / 100.0 * 0.8;
        for (int c = 0; c < 2; ++c)
        {
            double h = 0.0, l = 0.0;
            for (int i = 0; i < in.getNumSamples(); ++i)
            {
                const double x = in.getSample (c, i);
                h += (0.125 * x - h) * high;
                l += ((0.125 * x - h) - l) * low;
                ASSERT_NEAR (out.getSample (c, i), dryGain * x + wetGain * l, 2.0e-5) << wet << " " << c << " " << i;
            }
        }
    }
}

TEST (SpaceModule, AudioThreadNeverSearchesItUsesTheListOfTheLastPreparation)
{
    juce::File empty (qvtest::tempDir());
    empty.setAsCurrentWorkingDirectory();
    setenv (impulseResponseDirVariable, empty.getFullPathName().toRawUTF8(), 1);
    if (! listSpaceImpulseResponses().empty())
        GTEST_SKIP() << "impulse responses beside the test binary mask the search";

    auto st = state();
    const auto first = settings (R"({"spaceEnabled": true, "spaceWet": 100})");
    st->space.loadImpulseResponse (*first, 2, true);
    EXPECT_EQ (st->space.state().convolution, nullptr);
    // Responses appearing on disk change nothing while playing: dry until the next
    // preparation finds them.
    responses ({ 1000, 3000 });
    const auto in = noise (4096);
    auto out = in;
    render (*st, out, rackModuleSpace, *first);
    EXPECT_TRUE (identical (in, out, 0));
    st->space.loadImpulseResponse (*first, 2, true);
    ASSERT_NE (st->space.state().convolution, nullptr);
    EXPECT_EQ (st->space.state().convolution->getCurrentIRSize(), 1000);

    // A new index while playing loads from the kept list, in the background.
    setenv (impulseResponseDirVariable, empty.getFullPathName().toRawUTF8(), 1);
    const auto next = settings (R"({"spaceEnabled": true, "spaceIrIndex": 3})"); // 3 modulo 2
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds (10);
    while (st->space.state().convolution->getCurrentIRSize() != 3000 && std::chrono::steady_clock::now() < until)
    {
        render (*st, out, rackModuleSpace, *next);
        std::this_thread::sleep_for (std::chrono::milliseconds (2));
    }
    EXPECT_EQ (st->space.state().loadedIrIndex, 3);
    EXPECT_EQ (st->space.state().convolution->getCurrentIRSize(), 3000);
}

TEST (SpaceModule, ConvolutionFollowsTheBlockSizeAndRateOfEachPreparation)
{
    responses ({ 6000 });
    const auto s = settings (R"({"spaceEnabled": true, "spaceWet": 80})");
    auto grown = state (rate, 256);
    grown->space.loadImpulseResponse (*s, 2, true);
    prepareRackState (*grown, rate, 1024); // a device that now asks for bigger blocks
    EXPECT_EQ (grown->space.state().loadedMaxBlock, 1024);
    auto reference = state (rate, 1024);
    reference->space.loadImpulseResponse (*s, 2, true);

    const auto in = noise (8192);
    auto a = in, b = in;
    for (int start = 0; start < in.getNumSamples(); start += 1024)
    {
        dispatchRackModule (*grown, a, start, 1024, rackModuleSpace, *s);
        dispatchRackModule (*reference, b, start, 1024, rackModuleSpace, *s);
    }
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < in.getNumSamples(); ++i)
            ASSERT_NEAR (a.getSample (c, i), b.getSample (c, i), 1.0e-5f);
    EXPECT_FALSE (identical (in, a, 0));

    prepareRackState (*grown, 44100.0, 1024);
    EXPECT_EQ (grown->space.state().loadedSampleRate, 44100.0);
}

TEST (FreqShiftModule, SilentForTheLatencyThenDryHoldThenCrossfadeToWet)
{
    // freqShift 0: the wet path is the shifter's unpitched output, saturated.
    const auto in = noise (48000, 2, 0.3f);
    auto runWith = [&] (float mixMs) {
        auto st = state();
        const auto s =
            settings (R"({"freqShiftEnabled": true, "freqShift": 0, "freqShiftMix": )" + std::to_string (mixMs) + "}");
        st->freqShift.prepareShifter (*s);
        EXPECT_NE (st->freqShift.state().shifter, nullptr);
        auto out = in;
        render (*st, out, rackModuleFreqShift, *s);
        return std::make_pair (out, (int) st->freqShift.state().latency);
    };
    const auto [wet, latency] = runWith (0.0f); // pure wet once the 12-sample fade is over
    const auto [held, heldLatency] = runWith (50.0f);
    ASSERT_EQ (latency, heldLatency);
    constexpr int fade = 12, hold = 2400; // 0.25 ms and 50 ms at 48 kHz

    for (int c = 0; c < 2; ++c)
    {
        // Silent up to the saturation filters' leading edge, a few samples before the latency.
        EXPECT_LT (qvtest::peakAbs (held.getReadPointer (c), latency - 8), 1.0e-6f);
        for (int e = 0; e < hold; ++e)
            ASSERT_EQ (held.getSample (c, latency + e), in.getSample (c, e)) << e;
        for (int r = 1; r <= fade; ++r)
        {
            const int e = hold + r - 1;
            const float t = (float) r / (float) fade;
            EXPECT_NEAR (held.getSample (c, latency + e),
                         (1.0f - t) * in.getSample (c, e) + t * wet.getSample (c, latency + e), 1.0e-6f);
        }
        for (int i = latency + hold + fade; i < in.getNumSamples(); ++i)
            ASSERT_EQ (held.getSample (c, i), wet.getSample (c, i)) << i;
    }

    // The wet path lines up with the dry one: at unity it is the input, latency later.
    auto correlation = [&] (int lag) {
        double sum = 0.0;
        for (int i = 0; i < 24000; ++i)
            sum += (double) in.getSample (0, i) * wet.getSample (0, i + lag);
        return sum;
    };
    for (int lag = latency - 600; lag < latency + 600; ++lag)
        if (lag != latency)
            ASSERT_LT (correlation (lag), correlation (latency)) << lag;
}

TEST (FreqShiftModule, ShiftsBySemitonesAndPassesAudioWhereItCannotRun)
{
    for (const auto& [semitones, expected] : { std::pair { 7, 659.26 }, std::pair { -12, 220.0 } })
    {
        auto st = state();
        const auto s = settings (R"({"freqShiftEnabled": true, "freqShiftMix": 0, "freqShift": )"
                                 + std::to_string (semitones) + "}");
        st->freqShift.prepareShifter (*s);
        auto b = qvtest::sine (440.0, rate, 48000, 0.4f);
        render (*st, b, rackModuleFreqShift, *s);
        EXPECT_NEAR (qvtest::dominantFrequency (b.getReadPointer (0, 24000), 16384, rate), expected, 3.0);
    }

    // The smoother window of synth mode costs delay; beat and ambi share the short one.
    auto beat = state(), synth = state();
    beat->freqShift.prepareShifter (*settings (R"({"freqShiftEnabled": true})"));
    synth->freqShift.prepareShifter (*settings (R"({"freqShiftEnabled": true, "freqShiftMode": "synth"})"));
    EXPECT_GT (synth->freqShift.state().latency, beat->freqShift.state().latency);

    auto slow = state (4000.0);
    const auto s = settings (R"({"freqShiftEnabled": true, "freqShift": 5})");
    slow->freqShift.prepareShifter (*s);
    EXPECT_EQ (slow->freqShift.state().shifter, nullptr);
    const auto in = noise (2048);
    auto out = in;
    render (*slow, out, rackModuleFreqShift, *s);
    EXPECT_TRUE (identical (in, out, 0) && identical (in, out, 1));
}

TEST (FreqShiftAndSpace, TwoRendersAreByteIdentical)
{
    responses ({ 4800, 7200 });
    const auto s = settings (R"({"freqShiftEnabled": true, "freqShift": 5, "freqShiftMix": 10,
                                 "spaceEnabled": true, "spaceWet": 60, "spaceSize": 30, "spaceIrIndex": 1})");
    const auto in = noise (48000);
    auto once = [&] {
        auto st = state();
        st->freqShift.prepareShifter (*s);
        st->space.loadImpulseResponse (*s, 2, true);
        auto out = in;
        for (int start = 0; start < out.getNumSamples(); start += 512)
            processRackBlock (*st, out, start, std::min (512, out.getNumSamples() - start), *s);
        return out;
    };
    const auto a = once(), b = once();
    EXPECT_TRUE (identical (a, b, 0) && identical (a, b, 1));
    EXPECT_FALSE (identical (a, in, 0));
}

TEST (FreqShiftAndSpace, PoisonedStatesResetInsteadOfSpreadingNaN)
{
    responses ({ 4800 });
    const auto s = settings (R"({"freqShiftEnabled": true, "freqShift": 3, "freqShiftMix": 0,
                                 "spaceEnabled": true, "spaceWet": 50})");
    auto st = state();
    st->freqShift.prepareShifter (*s);
    st->space.loadImpulseResponse (*s, 2, true);
    auto b = noise (96000);
    for (int start = 0; start < 24000; start += 512)
        processRackBlock (*st, b, start, 512, *s);

    st->freqShift.state().wetSmoothLeft = std::nanf ("");
    st->space.state().lowState[1] = INFINITY;
    b.setSample (0, 24100, std::nanf ("")); // and a bad sample from upstream
    for (int start = 24000; start < 96000; start += 512)
        processRackBlock (*st, b, start, std::min (512, 96000 - start), *s);
    EXPECT_TRUE (qvtest::allFinite (b));
    // Both modules start over and are heard again within a second.
    EXPECT_GT (qvtest::rms (b.getReadPointer (0, 86000), 8000), 0.05f);
    EXPECT_GT (qvtest::rms (b.getReadPointer (1, 86000), 8000), 0.05f);
}
