#include "BlockSource.h"
#include "EngineTestSupport.h"
#include "TestAudio.h"

#include "chain/MasterSpectrumSource.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

using namespace qvtest;

namespace
{
// Pulls `frames` through the tap as the device would, in 512-frame blocks.
void run (quorvalen::MasterSpectrumSource& tap, int frames, int channels = 2)
{
    juce::AudioBuffer<float> block (channels, 512);
    for (int done = 0; done < frames; done += 512)
        tap.getNextAudioBlock (juce::AudioSourceChannelInfo (&block, 0, 512));
}
} // namespace

TEST (MasterTap, ScopePadsWithZerosAndKeepsTheLastFrames)
{
    BlockSource source (sine (1000.0, 44100.0, 44100, 0.5f));
    quorvalen::MasterSpectrumSource tap (&source);
    tap.prepareToPlay (512, 44100.0);
    std::vector<float> l (20000, 1.0f), r (20000, 1.0f);
    EXPECT_EQ (tap.getMasterStereoScope (l.data(), r.data(), 20000), 0);
    EXPECT_EQ (peakAbs (l.data(), 20000), 0.0f);

    run (tap, 512 * 40); // 20480 frames: more than the ring holds
    EXPECT_EQ (tap.getMasterStereoScope (l.data(), r.data(), 20000), 1);
    EXPECT_EQ (peakAbs (l.data(), 3616), 0.0f);
    EXPECT_EQ (l[19999], source.audio.getSample (0, 20479));
    EXPECT_EQ (l[3616], source.audio.getSample (0, 20480 - 16384));
    EXPECT_EQ (tap.getMasterStereoScope (nullptr, r.data(), 4), -1);
    EXPECT_EQ (tap.getMasterStereoScope (l.data(), r.data(), 0), -1);
}

TEST (MasterTap, MonoOutputFeedsBothRings)
{
    BlockSource source (sine (300.0, 48000.0, 4096, 0.25f, 1));
    quorvalen::MasterSpectrumSource tap (&source);
    tap.prepareToPlay (512, 48000.0);
    run (tap, 1024, 1);
    float l[64], r[64];
    ASSERT_EQ (tap.getMasterStereoScope (l, r, 64), 1);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ (l[i], r[i]);
}

TEST (MasterTap, SpectrumPeaksAtTheToneAndMapsBinsByIntegerIndex)
{
    // Quiet enough that only the tone's own bins approach the top of the scale.
    BlockSource source (sine (1000.0, 44100.0, 44100, 0.001f));
    quorvalen::MasterSpectrumSource tap (&source);
    tap.prepareToPlay (512, 44100.0);
    float one = -1.0f;
    EXPECT_EQ (tap.getMasterSpectrum (&one, 1), 0);
    EXPECT_EQ (one, 0.0f);
    run (tap, 4096);

    std::vector<float> bins (1024);
    ASSERT_EQ (tap.getMasterSpectrum (bins.data(), 1024), 1);
    const auto peak = std::max_element (bins.begin(), bins.end()) - bins.begin();
    EXPECT_NEAR ((double) peak, 1000.0 * 2048.0 / 44100.0, 1.0); // bin 46.4

    std::vector<float> wide (4096);
    ASSERT_EQ (tap.getMasterSpectrum (wide.data(), 4096), 1);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ (wide[(size_t) i], wide[(size_t) (i / 4 * 4)]);
    EXPECT_EQ (tap.getMasterSpectrum (nullptr, 4), -1);
}

TEST (MasterTap, PitchDetectorFindsTonesInRangeOnly)
{
    struct Case
    {
        double hz;
        int result;
    };
    for (const auto c : { Case { 440.0, 1 }, Case { 110.0, 1 }, Case { 30.0, 0 } })
    {
        BlockSource source (sine (c.hz, 44100.0, 44100, 0.5f));
        quorvalen::MasterSpectrumSource tap (&source);
        tap.prepareToPlay (512, 44100.0);
        run (tap, 8192 + 512);
        float hz = -1.0f;
        EXPECT_EQ (tap.getMasterPitch (&hz), c.result) << c.hz;
        if (c.result == 1)
            EXPECT_NEAR (hz, c.hz, 0.5) << c.hz;
        else
            EXPECT_EQ (hz, 0.0f);
    }
    BlockSource silence (juce::AudioBuffer<float> (2, 44100));
    silence.audio.clear();
    quorvalen::MasterSpectrumSource tap (&silence);
    tap.prepareToPlay (512, 44100.0);
    run (tap, 9000);
    float hz = -1.0f;
    EXPECT_EQ (tap.getMasterPitch (&hz), 0);
    EXPECT_EQ (hz, 0.0f);
    EXPECT_EQ (tap.getMasterPitch (nullptr), -1);
}

TEST (MasterTapLive, TonesAtTheEdgesOfTheLagRangeAreNoDetectionAtEveryRate)
{
    // The lowest lag is exactly 1200 Hz at 48 and 96 kHz: a sub-bass tone, whose
    // correlation only falls from there, must not read as 1200 Hz.
    for (const double rate : { 44100.0, 48000.0, 96000.0 })
    {
        useHeadlessOnly (1, rate, 512, 512);
        ASSERT_EQ (quorvalen_engine_init(), 0);
        for (const double tone : { 30.0, 20.0, 440.0 })
        {
            const auto bytes = wavBytes (sine (tone, rate, (int) rate * 3, 0.5f), rate, 32);
            const int id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
            ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
            // The tap's window is 8192 frames: wait for it to hold only the tone.
            quorvalen::platform::startCapture (16384);
            ASSERT_TRUE (
                waitFor ([] { return quorvalen::platform::capturedFrames() >= 16384; }, std::chrono::seconds (10)));
            quorvalen::platform::stopCapture();
            float hz = -1.0f;
            const int found = quorvalen_engine_get_master_pitch (&hz);
            if (tone > 40.0)
            {
                EXPECT_EQ (found, 1) << rate << " " << tone;
                EXPECT_NEAR (hz, tone, 2.0) << rate;
            }
            else
            {
                EXPECT_EQ (found, 0) << rate << " " << tone << " read as " << hz;
                EXPECT_EQ (hz, 0.0f) << rate << " " << tone;
            }
            quorvalen_engine_stop();
        }
        quorvalen_engine_shutdown();
    }
}
