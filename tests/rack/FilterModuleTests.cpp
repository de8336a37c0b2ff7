// Rack module 1: the oversampled state-variable filter and the cepstral envelope
// filter, driven directly on a processing state.
#include "HeapWatch.h"
#include "RackModuleTestSupport.h"

#include <limits>

using namespace qvrack;

namespace
{
constexpr double rate = 48000.0;

juce::AudioBuffer<float> noise (int n, int channels = 2, std::uint64_t seed = 3)
{
    return qvtest::noiseBuffer (n, seed, 0.5f, channels);
}

// Runs module 1 block by block, advancing the position as the block path does.
void render (RackProcessingState& state, juce::AudioBuffer<float>& b, const QuorvalenRackSettings& s, int block = 512)
{
    for (int start = 0; start < b.getNumSamples(); start += block)
    {
        const int count = std::min (block, b.getNumSamples() - start);
        runRackModule (state, b, start, count, rackModuleFilter, s);
        state.position += count;
    }
}

// Output over input level of a 0.1 sine, over the second half (once settled).
double sineGain (const std::string& json, double hz)
{
    const auto in = signal (hz, 24000, 0.1f);
    auto out = in;
    render (*makeState(), out, *record (json));
    return out.getRMSLevel (0, 12000, 12000) / in.getRMSLevel (0, 12000, 12000);
}
} // namespace

TEST (FilterModule, IdentitySettingsLeaveTheSignalBitForBit)
{
    const auto in = noise (20000);
    // Switched off, every mode passes the block; the cepstral mode keeps running but
    // its amount never leaves zero.
    for (const char* mode : { "LP", "HP", "BP", "N", "RES", "CEPS" })
    {
        auto state = makeState();
        auto out = in;
        render (*state, out,
                *record (std::string ("{\"filterMode\":\"") + mode
                           + "\",\"filterDrive\":60,\"filterDirtboxEnabled\":true,"
                             "\"filterCepsAmount\":100,\"filterCepsShift\":7}"));
        EXPECT_TRUE (identical (in, out)) << mode;
    }

    // Full amount without shift or warp: the kernel stays a unit impulse.
    auto state = makeState();
    auto out = in;
    render (*state, out, *record (R"({"deEssEnabled":true,"filterMode":"CEPS","filterCepsAmount":100})"));
    EXPECT_TRUE (identical (in, out));
}

TEST (FilterModule, ResonanceModePeaksTwelveDecibelsAtTheCutoff)
{
    const double fc = 20.0 * std::pow (1000.0, 0.5); // filterFreq 50
    const std::string res100 = R"({"deEssEnabled":true,"filterMode":"RES","filterFreq":50,"filterRes":100})";
    EXPECT_NEAR (20.0 * std::log10 (sineGain (res100, fc)), 12.0, 0.3);
    EXPECT_NEAR (20.0 * std::log10 (sineGain (res100, fc * 8.0)), 0.0, 0.5);
    const std::string res0 = R"({"deEssEnabled":true,"filterMode":"RES","filterFreq":50,"filterRes":0})";
    EXPECT_NEAR (20.0 * std::log10 (sineGain (res0, fc)), 0.0, 0.1);
}

TEST (FilterModule, StateVariableModesHaveTheirSecondOrderResponses)
{
    // Resonance 0: Q 0.707 and no saturation, so the plain responses show.
    const double fc = 20.0 * std::pow (1000.0, 0.5);
    const auto doc = [] (const char* mode) {
        return std::string ("{\"deEssEnabled\":true,\"filterRes\":0,\"filterFreq\":50,\"filterMode\":\"") + mode
            + "\"}";
    };
    const auto db = [&] (const char* mode, double hz) { return 20.0 * std::log10 (sineGain (doc (mode), hz)); };

    EXPECT_NEAR (db ("LP", fc / 10.0), 0.0, 0.3);
    EXPECT_NEAR (db ("LP", fc), -3.0, 0.3);
    EXPECT_LT (db ("LP", fc * 10.0), -35.0);
    EXPECT_NEAR (db ("HP", fc * 10.0), 0.0, 0.3);
    EXPECT_NEAR (db ("HP", fc), -3.0, 0.3);
    EXPECT_LT (db ("HP", fc / 10.0), -35.0);
    EXPECT_NEAR (db ("BP", fc), -3.0, 0.3); // the un-normalised band-pass peaks at Q
    EXPECT_LT (db ("BP", fc * 10.0), -15.0);
    EXPECT_LT (db ("N", fc), -30.0);
    EXPECT_NEAR (db ("N", fc / 10.0), 0.0, 0.3);
}

TEST (FilterModule, EnvelopeFollowsItsDocumentedShape)
{
    // Sound of 1000 samples: attack 10 % -> 90 samples, decay 20 % -> 70, release 20 % -> 70.
    const auto e = makeFilterEnvelope (0.0f, 10.0f, 20.0f, 50.0f, 20.0f, rate, 1000);
    EXPECT_FLOAT_EQ (filterEnvelopeAt (e, 45), 0.5f);
    EXPECT_FLOAT_EQ (filterEnvelopeAt (e, 90 + 35), 0.75f);
    EXPECT_FLOAT_EQ (filterEnvelopeAt (e, 500), 0.5f);
    EXPECT_NEAR (filterEnvelopeAt (e, 999), 0.5f * (1.0f - 69.0f / 70.0f), 1e-6);

    // No attack, decay or release: nothing before the delay (10 % of a second), sustain after.
    const auto flat = makeFilterEnvelope (10.0f, 0.0f, 0.0f, 40.0f, 0.0f, rate, 100000);
    EXPECT_EQ (filterEnvelopeAt (flat, 4799), 0.0f);
    EXPECT_FLOAT_EQ (filterEnvelopeAt (flat, 4800), 0.4f);
    EXPECT_FLOAT_EQ (filterEnvelopeAt (flat, 99999), 0.4f);
}

TEST (FilterModule, LfoAndNoiseDrawsAreDeterministic)
{
    const std::string busy = R"({"deEssEnabled":true,"filterMode":"BP","filterDrive":40,"filterDirtboxEnabled":true,
        "filterLfo":80,"filterLfoShape":"RND","filterLfoSync":false,"filterEnvEnabled":true,"filterEnvTargetLfo":true,
        "filterEnvTargetDrive":true,"automation":{"filterFreq":[{"x":0,"y":0.2},{"x":1,"y":0.9}]}})";
    juce::AudioBuffer<float> outputs[2] = { noise (30000), noise (30000) };
    for (auto& out : outputs)
        render (*makeState (30000), out, *record (busy), 333);
    EXPECT_TRUE (identical (outputs[0], outputs[1]));

    // Dirtbox: one draw per work channel per oversampled sample, even for a mono buffer.
    auto state = makeState();
    auto mono = noise (1000, 1);
    render (*state, mono, *record (R"({"deEssEnabled":true,"filterDirtboxEnabled":true})"));
    EXPECT_EQ (state->noise.state(), seedAfter (8 * 1000));

    // Random LFO at 10 Hz holds 4 x 48000 / 10 oversampled samples (a second draw
    // falls on base sample 4800); the cepstral mode holds at the base rate.
    const std::string rnd = R"({"deEssEnabled":true,"filterLfoShape":"RND","filterLfoSync":false,"filterLfoRate":100)";
    for (const char* mode : { "LP", "CEPS" })
    {
        for (int n : { 4800, 4801 })
        {
            auto s = makeState();
            auto b = noise (n);
            render (*s, b, *record (rnd + ",\"filterMode\":\"" + mode + "\"}"));
            EXPECT_EQ (s->noise.state(), seedAfter (n == 4800 ? 1 : 2)) << mode << " " << n;
        }
    }

    // Synced rate 100 at 172 bpm is 0.25 beats (11.4667 Hz); dotted is 0.375 beats.
    for (auto [timing, hz] :
         { std::pair { "\"TRI\"", 172.0 / 60.0 / (0.25 * 0.6666667) }, std::pair { "\"DOT\"", 172.0 / 60.0 / 0.375 } })
    {
        auto s = makeState();
        auto b = noise (4096);
        render (
            *s, b,
            *record (std::string (R"({"deEssEnabled":true,"filterLfoRate":100,"filterLfoTiming":)") + timing + "}"));
        const double cycles = 4096.0 * hz / rate;
        EXPECT_NEAR (s->filter.lfo().phase, cycles - std::floor (cycles), 1e-4) << timing;
    }
}

TEST (CepstralFilter, ShiftMovesTheSpectralEnvelopeWithinTwelveDecibels)
{
    // Noise darkened by four one-pole low-passes at 800 Hz: 24 dB per octave, so an
    // octave's shift asks for more than the 12 dB the correction may give.
    auto in = noise (96000);
    for (int c = 0; c < 2; ++c)
    {
        float y[4] = {};
        const float k = onePoleCoefficient (800.0f, rate);
        for (int i = 0; i < in.getNumSamples(); ++i)
        {
            float x = in.getSample (c, i);
            for (auto& stage : y)
                x = stage += (x - stage) * k;
            in.setSample (c, i, x);
        }
    }
    auto state = makeState();
    auto out = in;
    render (*state, out,
            *record (R"({"deEssEnabled":true,"filterMode":"CEPS","filterCepsAmount":100,"filterCepsShift":12})"));
    ASSERT_TRUE (qvtest::allFinite (out));

    // Band energies over the last second by 4096-point spectra.
    const auto bandPower = [] (const juce::AudioBuffer<float>& b, double lo, double hi) {
        juce::dsp::FFT fft (12);
        std::vector<float> frame (8192);
        double sum = 0.0;
        for (int start = 48000; start + 4096 <= b.getNumSamples(); start += 4096)
        {
            std::fill (frame.begin(), frame.end(), 0.0f);
            for (int i = 0; i < 4096; ++i)
                frame[(size_t) i] = b.getSample (0, start + i) * (0.5f - 0.5f * std::cos (6.2831853f * i / 4096));
            fft.performFrequencyOnlyForwardTransform (frame.data());
            for (int k = (int) (lo / rate * 4096); k < (int) (hi / rate * 4096); ++k)
                sum += frame[(size_t) k] * frame[(size_t) k];
        }
        return 10.0 * std::log10 (sum);
    };
    // An octave up wants about 24 dB above the corner; the correction stops at 12.
    EXPECT_NEAR (bandPower (out, 1600, 3200) - bandPower (in, 1600, 3200), 12.0, 0.5);
    for (double lo = 100.0; lo < 16000.0; lo *= 2.0)
        EXPECT_LT (std::abs (bandPower (out, lo, lo * 2.0) - bandPower (in, lo, lo * 2.0)), 12.5) << lo;

    // Silence never designs: the kernel stays a unit impulse.
    auto quiet = makeState();
    juce::AudioBuffer<float> zeros (2, 8192);
    zeros.clear();
    render (*quiet, zeros,
            *record (R"({"deEssEnabled":true,"filterMode":"CEPS","filterCepsAmount":100,"filterCepsShift":12})"));
    EXPECT_EQ (quiet->filter.cepstralState().kernel[0], 1.0f);
    EXPECT_EQ (
        std::count (quiet->filter.cepstralState().kernel.begin(), quiet->filter.cepstralState().kernel.end(), 0.0f),
        255);
}

TEST (FilterModule, NoModeAllocatesOnTheAudioPath)
{
    const std::string common = R"("deEssEnabled":true,"filterDrive":30,"filterDirtboxEnabled":true,"filterLfo":50,
        "filterLfoShape":"RND","filterEnvEnabled":true,"filterEnvTargetLfo":true,"filterCepsShift":-5,
        "filterCepsWarp":40,"filterCepsAmount":80,"filterCepsEnvTargetShift":true,
        "automation":{"filterFreq":[{"x":0,"y":0.1},{"x":1,"y":1}],"filterCepsWarp":[{"x":0,"y":0},{"x":1,"y":1}]})";
    for (const char* mode : { "LP", "HP", "BP", "N", "RES", "CEPS" })
    {
        auto settings = record (std::string ("{\"filterMode\":\"") + mode + "\"," + common + "}");
        auto state = makeState (40000);
        state->looping = true;
        auto stereo = noise (512);
        auto mono = noise (300, 1);
        qvtest::heap::resetCounts();
        qvtest::heap::watching = true;
        for (int block = 0; block < 200; ++block)
            processRackBlock (*state, block % 3 == 0 ? mono : stereo, 0, block % 3 == 0 ? 300 : 512, *settings);
        qvtest::heap::watching = false;
        EXPECT_EQ (qvtest::heap::allocations.load(), 0) << mode;
    }
    // The counter does see allocations made under the flag.
    qvtest::heap::watching = true;
    qvtest::heap::touchHeapOnce();
    qvtest::heap::watching = false;
    EXPECT_EQ (qvtest::heap::allocations.load(), 1);
}

TEST (FilterModule, PoisonedStateOrInputRecovers)
{
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    for (const char* mode : { "LP", "CEPS" })
    {
        auto settings = record (std::string ("{\"filterMode\":\"") + mode
                                + "\",\"deEssEnabled\":true,\"filterDirtboxEnabled\":true,"
                                  "\"filterCepsAmount\":100,\"filterCepsShift\":6}");
        // A non-finite input sample counts as silence and costs nothing else.
        juce::AudioBuffer<float> blocks[2] = { noise (2048, 2, 4), noise (2048, 2, 4) };
        blocks[0].setSample (0, 100, nan);
        blocks[1].setSample (0, 100, 0.0f);
        for (auto& b : blocks)
            render (*makeState(), b, *settings);
        EXPECT_TRUE (identical (blocks[0], blocks[1])) << mode;

        auto state = makeState();
        auto warm = noise (4096);
        render (*state, warm, *settings);

        state->filter.state().channels[1].ic2 = nan;
        state->filter.lfo().phase = nan;
        state->filter.cepstralState().kernel[7] = nan;
        state->filter.cepstralState().smoothedShift = std::numeric_limits<float>::infinity();
        auto poisoned = noise (2048, 2, 5);
        qvtest::heap::resetCounts();
        qvtest::heap::watching = true; // recovery happens on the audio thread
        render (*state, poisoned, *settings);
        qvtest::heap::watching = false;
        EXPECT_EQ (qvtest::heap::allocations.load(), 0) << mode;
        EXPECT_TRUE (qvtest::allFinite (poisoned)) << mode;

        // Input large enough to overflow the integrators.
        auto bad = noise (2048, 2, 6);
        for (int i = 1000; i < 1100; ++i)
            bad.setSample (0, i, 3.0e38f);
        render (*state, bad, *settings);
        EXPECT_TRUE (qvtest::allFinite (bad)) << mode;

        auto after = noise (4096, 2, 7);
        render (*state, after, *settings);
        EXPECT_TRUE (qvtest::allFinite (after)) << mode;
        EXPECT_GT (after.getRMSLevel (0, 2048, 2048), 0.01f) << mode;
        if (std::string (mode) == "CEPS")
            EXPECT_TRUE (std::isfinite (state->filter.cepstralState().kernel[7]));
        else
            EXPECT_TRUE (std::isfinite (state->filter.state().channels[1].ic2));
    }
}
