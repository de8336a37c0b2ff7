#include "HeadlessEngineFixture.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"

using namespace qvtest;

namespace
{
using FoundryPitch = HeadlessEngineTest;
}

TEST_F (FoundryPitch, SineSilenceAndShortWindows)
{
    const int id = cache (sine (440.0, 48000.0, 48000, 0.5f));
    ASSERT_GT (id, 0);
    EXPECT_FLOAT_EQ (quorvalen_engine_detect_foundry_pitch (id, 0.0f), (float) (48000.0 / 109.0));
    EXPECT_FLOAT_EQ (quorvalen_engine_detect_foundry_pitch (id, -50.0f), (float) (48000.0 / 109.0));
    EXPECT_FLOAT_EQ (quorvalen_engine_detect_foundry_pitch (id, std::nanf ("")), (float) (48000.0 / 109.0));
    EXPECT_EQ (quorvalen_engine_detect_foundry_pitch (id, 5000.0f), 0.0f); // start past the end
    EXPECT_EQ (quorvalen_engine_detect_foundry_pitch (id, INFINITY), 0.0f);
    EXPECT_EQ (quorvalen_engine_detect_foundry_pitch (id, 1000.0f - 5.0f), 0.0f); // 240 samples left
    EXPECT_GT (quorvalen_engine_detect_foundry_pitch (id, 1000.0f - 6.0f), 0.0f); // 288 left

    juce::AudioBuffer<float> quiet (2, 48000);
    quiet.clear();
    EXPECT_EQ (quorvalen_engine_detect_foundry_pitch (cache (quiet), 0.0f), 0.0f);
    auto rightOnly = sine (440.0, 48000.0, 48000, 0.5f);
    rightOnly.clear (0, 0, 48000);
    EXPECT_EQ (quorvalen_engine_detect_foundry_pitch (cache (rightOnly), 0.0f), 0.0f);
    EXPECT_EQ (quorvalen_engine_detect_foundry_pitch (999999, 0.0f), 0.0f);

    // An entry without channels (only reachable inside the engine).
    std::uint32_t bare = 0;
    {
        std::lock_guard lock (quorvalen::engine().engineMutex);
        bare = quorvalen::insertCacheEntry (quorvalen::engine(),
                                            { std::make_unique<juce::AudioBuffer<float>> (0, 48000), 48000.0, "bare" });
    }
    EXPECT_EQ (quorvalen_engine_detect_foundry_pitch ((int32_t) bare, 0.0f), 0.0f);

    quorvalen_engine_shutdown();
    EXPECT_EQ (quorvalen_engine_detect_foundry_pitch (id, 0.0f), 0.0f); // works (and finds nothing) before init
}
