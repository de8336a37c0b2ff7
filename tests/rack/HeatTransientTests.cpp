// Heat and transient: their transfer shapes through the 4x oversampler (compared
// after its latency), the bleed mode's noise draws, and the followers' gains.
#include "RackModuleTestSupport.h"

using namespace qvrack;

namespace
{
std::string heat (const char* mode, int drive, int mix)
{
    return "{\"heatEnabled\": true, \"heatMode\": \"" + std::string (mode)
        + "\", \"heatDrive\": " + std::to_string (drive) + ", \"heatMix\": " + std::to_string (mix) + "}";
}
} // namespace

TEST (HeatModule, CharactersMatchTheirClosedForms)
{
    struct Case
    {
        const char* mode;
        int drive, mix;
        float amplitude, tolerance;
        std::function<float (float)> shape;
    };
    const Case cases[] = {
        { "tube", 100, 100, 0.25f, 2e-4f, [] (float x) { return std::tanh (6.0f * x); } },
        { "warm", 100, 100, 0.1f, 2e-4f, [] (float x) { return std::atan (6.0f * x) * 0.63661975f; } },
        { "console", 100, 100, 0.08f, 2e-4f, [] (float x) { float u = 6.0f * x; return softCeiling (u - u * u * u / 3.0f); } },
        { "broken", 100, 100, 0.05f, 2e-4f, [] (float x) { return 0.04f * std::sin (60.0f * x) + std::tanh (36.0f * x); } },
        { "tube", 0, 50, 0.6f, 1e-5f, [] (float x) { return 0.5f * x + 0.5f * std::tanh (x); } },
        { "bleed", 100, 0, 0.7f, 1e-5f, [] (float x) { return x; } }, // mix 0 is not dry: the ceiling stays
    };
    for (const auto& k : cases)
    {
        SCOPED_TRACE (std::string (k.mode) + " " + std::to_string (k.drive) + "/" + std::to_string (k.mix));
        auto state = makeState();
        const auto in = signal (60.0, 9600, k.amplitude);
        auto out = in;
        render (*state, out, heat (k.mode, k.drive, k.mix));
        EXPECT_LT (
            shapeError (in, out, latency (state->heat), [&] (float x, float) { return softCeiling (k.shape (x)); }),
            k.tolerance);
    }
}

TEST (HeatModule, BleedDrawsChannelByChannelAndOthersDrawNothing)
{
    // Channel 0 takes all its draws before channel 1, so its output is the same
    // whether channel 1 carries other audio or (mono) a copy of channel 0.
    auto stereo = signal (0.0, 4096, 0.5f, 2, 3);
    juce::AudioBuffer<float> mono (1, 4096);
    mono.copyFrom (0, 0, stereo, 0, 0, 4096);
    auto a = makeState(), b = makeState();
    render (*a, stereo, heat ("bleed", 70, 80));
    render (*b, mono, heat ("bleed", 70, 80));
    EXPECT_EQ (std::memcmp (stereo.getReadPointer (0), mono.getReadPointer (0), sizeof (float) * 4096), 0);
    EXPECT_EQ (a->noise.state(), seedAfter (8L * 4096)); // 2 work channels x 4 oversampled samples

    for (const char* mode : { "tube", "warm", "console", "broken" })
    {
        auto state = makeState();
        render (*state, stereo, heat (mode, 50, 50));
        EXPECT_EQ (state->noise.state(), rackNoiseSeedStart) << mode;
    }
}

TEST (TransientModule, NeutralIsTheSoftClipAndTheFollowersShapeLevels)
{
    auto state = makeState();
    const auto in = signal (100.0, 9600, 0.8f);
    auto out = in;
    render (*state, out, R"({"transientEnabled": true})");
    EXPECT_LT (shapeError (in, out, latency (state->transient), [] (float x, float) { return std::tanh (0.97f * x); }),
               1e-5f);

    // A step to 0.3: for the first milliseconds the fast follower leads and attack
    // scales the level; once the followers meet, only sustain does.
    const auto step = [] (const char* attack, const char* sustain) {
        auto s = makeState();
        juce::AudioBuffer<float> b (2, 48000);
        b.clear();
        for (int c = 0; c < 2; ++c)
            juce::FloatVectorOperations::fill (b.getWritePointer (c, 4800), 0.3f, 43200);
        render (*s, b,
                std::string ("{\"transientEnabled\": true, \"transientAttack\": ") + attack
                    + ", \"transientSustain\": " + sustain + "}");
        return std::pair { rmsOf (b, 4800 + latency (s->transient) + 48, 480), b.getSample (0, 47999) };
    };
    const auto [flatOnset, flatHeld] = step ("0", "0");
    EXPECT_NEAR (flatOnset, std::tanh (0.97f * 0.3f), 2e-3f);
    EXPECT_NEAR (flatHeld, std::tanh (0.97f * 0.3f), 1e-4f);
    EXPECT_GT (step ("10", "0").first, 1.3f * flatOnset);
    EXPECT_LT (step ("-10", "0").first, 0.7f * flatOnset);
    EXPECT_NEAR (step ("10", "0").second, flatHeld, 2e-3f);
    EXPECT_NEAR (step ("0", "-10").second, std::tanh (0.97f * 0.4f * 0.3f), 1e-3f);
    EXPECT_NEAR (step ("0", "10").second, std::tanh (0.97f * 1.6f * 0.3f), 1e-3f);
}
