#include "HeadlessEngineFixture.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"

#include <cmath>

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

TEST_F (FoundryPitch, TonesReadTheirOwnPeriodNotAMultiple)
{
    // Pure sines and harmonic tones (twenty harmonics falling as 1/k) at three rates:
    // within the 45..1500 Hz range each reads within one lag of its period; below it
    // nothing is found, and nothing ever reads above 1500 Hz.
    for (const double rate : { 44100.0, 48000.0, 96000.0 })
        for (const bool harmonic : { false, true })
            for (const double hz : { 20.0, 32.7, 45.0, 55.0, 82.4, 110.0, 196.0, 261.6, 440.0, 659.3, 880.0, 1046.5,
                                     1244.5, 1396.9, 1500.0 })
            {
                const int n = (int) (0.25 * rate);
                juce::AudioBuffer<float> tone (1, n);
                for (int i = 0; i < n; ++i)
                {
                    double v = 0.0;
                    for (int k = 1; k <= (harmonic ? 20 : 1) && k * hz < rate / 2; ++k)
                        v += 0.5 / k * std::sin (2.0 * M_PI * k * hz * i / rate + 0.3 * k);
                    tone.setSample (0, i, (float) v);
                }
                const float read = quorvalen_engine_detect_foundry_pitch (cache (tone, rate), 0.0f);
                SCOPED_TRACE (std::to_string (hz) + " Hz at " + std::to_string (rate) + (harmonic ? ", harmonic" : ""));
                if (hz < 45.0)
                    EXPECT_EQ (read, 0.0f);
                else
                {
                    ASSERT_GT (read, 0.0f);
                    EXPECT_LE (read, 1500.0f);
                    EXPECT_LE (std::abs (rate / read - rate / hz), 1.0);
                }
            }
}
