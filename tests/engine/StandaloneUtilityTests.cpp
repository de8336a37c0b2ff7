#include "EngineTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

using namespace qvtest;

TEST (ApplyGain, ScalesInPlaceAndIgnoresBadArguments)
{
    float x[4] = { 1.0f, -2.0f, 0.5f, 4.0f };
    quorvalen_apply_gain (nullptr, 4, 2.0f);
    quorvalen_apply_gain (x, 0, 2.0f);
    quorvalen_apply_gain (x, -3, 2.0f);
    EXPECT_EQ (x[0], 1.0f);
    quorvalen_apply_gain (x, 3, -2.0f);
    EXPECT_EQ (x[0], -2.0f);
    EXPECT_EQ (x[1], 4.0f);
    EXPECT_EQ (x[2], -1.0f);
    EXPECT_EQ (x[3], 4.0f); // beyond count: untouched
    quorvalen_apply_gain (x, 4, 0.0f);
    for (float v : x)
        EXPECT_EQ (v, 0.0f);
}

TEST (TestTone, PlaysHalfASecondOf440HzAtPointOne)
{
    useHeadlessOnly (1, 48000.0, 512, 512);
    quorvalen::platform::startCapture (96000);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ (quorvalen_test_audio(), 0);
    const double elapsed = std::chrono::duration<double> (std::chrono::steady_clock::now() - t0).count();
    const auto c = quorvalen::platform::stopCapture();
    EXPECT_GE (elapsed, 0.5);
    EXPECT_LT (elapsed, 2.0);
    ASSERT_GE (c.left.size(), 8192u);
    EXPECT_NEAR (peakAbs (c.left.data(), 8192), 0.1f, 1e-3f);
    EXPECT_NEAR (peakAbs (c.right.data(), 8192), 0.1f, 1e-3f);
    EXPECT_NEAR (dominantFrequency (c.left.data(), 8192, 48000.0), 440.0, 1.0);
    EXPECT_EQ (c.left, c.right);
}

TEST (TestTone, NoDeviceReturnsOneAtOnce)
{
    useHeadlessOnly (0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ (quorvalen_test_audio(), 1);
    EXPECT_LT (std::chrono::steady_clock::now() - t0, std::chrono::milliseconds (400));
}

TEST (BlockingPlayer, PlaysAShortFileToItsEnd)
{
    useHeadlessOnly (1, 48000.0, 512, 512);
    const auto dir = tempDir();
    const auto path = writeWav (dir + "/tone.wav", sine (1000.0, 48000.0, 9600, 0.5f), 48000.0, 24);
    quorvalen::platform::startCapture (96000);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ (quorvalen_play_wav (path.c_str()), 0);
    const double elapsed = std::chrono::duration<double> (std::chrono::steady_clock::now() - t0).count();
    const auto c = quorvalen::platform::stopCapture();
    EXPECT_GE (elapsed, 0.19);
    EXPECT_LT (elapsed, 1.5);
    EXPECT_NEAR (peakAbs (c.left.data(), (int) c.left.size()), 0.5f, 1e-3f);
    EXPECT_NEAR (dominantFrequency (c.left.data(), 4096, 48000.0), 1000.0, 2.0);

    // A mono file plays on both channels alike.
    const auto mono = writeWav (dir + "/mono.wav", sine (1000.0, 48000.0, 9600, 0.5f, 1), 48000.0, 24);
    quorvalen::platform::startCapture (96000);
    EXPECT_EQ (quorvalen_play_wav (mono.c_str()), 0);
    const auto m = quorvalen::platform::stopCapture();
    EXPECT_NEAR (peakAbs (m.right.data(), (int) m.right.size()), 0.5f, 1e-3f);
    EXPECT_EQ (m.left, m.right);
}

TEST (BlockingPlayer, RefusesBadInputsWithTheirCodes)
{
    useHeadlessOnly();
    const auto dir = tempDir();
    EXPECT_EQ (quorvalen_play_wav (nullptr), 1);
    EXPECT_EQ (quorvalen_play_wav ((dir + "/missing.wav").c_str()), 2);
    const auto text = dir + "/notes.wav";
    juce::File (text).replaceWithText ("this is not audio at all, just words");
    EXPECT_EQ (quorvalen_play_wav (text.c_str()), 3);
    const auto empty = writeWav (dir + "/empty.wav", juce::AudioBuffer<float> (2, 0), 44100.0, 16);
    EXPECT_EQ (quorvalen_play_wav (empty.c_str()), 4);
}

TEST (BlockingPlayer, NoDeviceReturnsFivePromptly)
{
    useHeadlessOnly (0);
    const auto dir = tempDir();
    const auto path = writeWav (dir + "/tone.wav", sine (440.0, 44100.0, 44100), 44100.0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ (quorvalen_play_wav (path.c_str()), 5);
    EXPECT_LT (std::chrono::steady_clock::now() - t0, std::chrono::milliseconds (500));
}
