// The constant-Q spectrogram of cached entries and the round-trip audition,
// through the exports.
#include "SpectralTestSupport.h"

#include "engine/QuorvalenEngine.h"

#include <quorvalen_dsp.h>

#include <cmath>
#include <vector>

using namespace qvtest;
using namespace std::chrono_literals;

namespace
{
class CqtSpectrogram : public SpectralFixture
{
protected:
    static std::vector<float> grid (int id, int width, int height, float* seconds = nullptr, int expect = 0)
    {
        std::vector<float> out ((std::size_t) width * (std::size_t) height, -7.0f);
        float s = 0.0f;
        StdoutCapture capture;
        EXPECT_EQ (quorvalen_engine_get_cqt_spectrogram (id, out.data(), (uint32_t) width, height, &s), expect);
        const auto log = capture.finish();
        if (expect == 0)
            EXPECT_EQ (log,
                       "[QUORVALEN CQT SPECTROGRAM 0.1.0] analysed cache " + std::to_string (id) + " ("
                           + std::to_string (width) + " x " + std::to_string (height) + ")\n");
        if (seconds != nullptr)
            *seconds = s;
        return out;
    }
};
} // namespace

TEST_F (CqtSpectrogram, ArgumentsAndUnknownIds)
{
    const int id = cache (sine (440.0, 48000.0, 4800), 48000.0);
    std::vector<float> out (2048 * 1024);
    float seconds = 0.0f;
    EXPECT_EQ (quorvalen_engine_get_cqt_spectrogram (id, nullptr, 64, 64, &seconds), -1);
    EXPECT_EQ (quorvalen_engine_get_cqt_spectrogram (id, out.data(), 64, 64, nullptr), -1);
    for (auto [w, h] : { std::pair { 31u, 64 }, { 2049u, 64 }, { 64u, 31 }, { 64u, 1025 } })
        EXPECT_EQ (quorvalen_engine_get_cqt_spectrogram (id, out.data(), w, h, &seconds), -2);
    for (int unknown : { 999, 0, -1, -1000001 })
    {
        EXPECT_EQ (quorvalen_engine_get_cqt_spectrogram (unknown, out.data(), 64, 64, &seconds), -4);
        EXPECT_EQ (quorvalen_engine_play_cached_gaborator_roundtrip (unknown), 2);
    }
    quorvalen_engine_shutdown();
    EXPECT_EQ (quorvalen_engine_get_cqt_spectrogram (id, out.data(), 64, 64, &seconds), -3);
    EXPECT_EQ (quorvalen_engine_play_cached_gaborator_roundtrip (id), 1);
}

TEST_F (CqtSpectrogram, SilenceIsDarkAndTheDurationIsReported)
{
    float seconds = 0.0f;
    juce::AudioBuffer<float> silence (1, 24000);
    silence.clear();
    const auto v = grid (cache (silence, 48000.0), 128, 64, &seconds);
    EXPECT_EQ (*std::max_element (v.begin(), v.end()), 0.0f);
    EXPECT_EQ (*std::min_element (v.begin(), v.end()), 0.0f);
    EXPECT_FLOAT_EQ (seconds, 0.5f);
}

TEST_F (CqtSpectrogram, IdenticalStereoChannelsEqualMono)
{
    const auto mono = grid (cache (sine (440.0, 48000.0, 24000, 0.4f, 1), 48000.0), 256, 128);
    const auto stereo = grid (cache (sine (440.0, 48000.0, 24000, 0.4f, 2), 48000.0), 256, 128);
    float worst = 0.0f;
    for (std::size_t i = 0; i < mono.size(); ++i)
        worst = std::max (worst, std::abs (mono[i] - stereo[i]));
    EXPECT_LT (worst, 5e-4f); // float rounding of the 1/sqrt(2) mix, steepened by the gamma near black
    EXPECT_TRUE (std::all_of (mono.begin(), mono.end(), [] (float x) { return x >= 0.0f && x <= 1.0f; }));

    // 440 Hz lies log2(440 / 20) / log2(fTop / 20) of the way down from the top.
    float best = 0.0f;
    int bestRow = 0;
    for (int r = 0; r < 128; ++r)
        if (mono[(std::size_t) r * 256 + 128] > best)
            best = mono[(std::size_t) r * 256 + 128], bestRow = r;
    EXPECT_FLOAT_EQ (best, 1.0f);
    const double topOctaves = std::log2 (24000.0 / 20.0);
    EXPECT_NEAR (bestRow, 127.0 * (1.0 - std::log2 (440.0 / 20.0) / topOctaves), 2.0);
}

TEST_F (CqtSpectrogram, RoundTripPlaysTheResynthesisedSound)
{
    const auto tone = sine (440.0, 48000.0, 30000, 0.5f);
    const int id = cache (tone, 48000.0);
    int code = -1;
    const auto out = record (
        50ms, [&] { code = quorvalen_engine_play_cached_gaborator_roundtrip (id); }, 400ms);
    ASSERT_EQ (code, 0);
    auto& engine = quorvalen::engine();
    {
        std::lock_guard lock (engine.engineMutex);
        ASSERT_NE (engine.playback.playbackBuffer, nullptr);
        EXPECT_EQ (engine.playback.playbackBuffer->getNumSamples(), 30000);
        EXPECT_LT (maxAbsDifference (*engine.playback.playbackBuffer, tone), 1e-5f);
        EXPECT_EQ (engine.playback.playingCacheId, 0u);
    }
    double position = 0.0, length = 0.0;
    uint32_t playing = 0;
    ASSERT_EQ (quorvalen_engine_get_playback_telemetry (&position, &length, &playing), 0);
    EXPECT_NEAR (length, 30000.0 / 48000.0, 1e-9);
    // What the device played, from its start, is the tone's level as the character
    // stage's soft ceiling passes it.
    std::vector<float> heard (9600);
    for (int i = 0; i < 9600; ++i)
        heard[(size_t) i] = throughCharacterCeiling (tone.getSample (0, i));
    const auto start = std::find_if (out.left.begin(), out.left.end(), [] (float x) { return std::abs (x) > 0.01f; });
    ASSERT_GT (out.left.end() - start, 12000);
    EXPECT_NEAR (rms (&*start + 1200, 9600), rms (heard.data(), 9600), 0.01f);
}
