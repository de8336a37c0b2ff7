// The session image through the exports: argument codes, the three renderings
// chosen by size, the locked reference and the laser overlay.
#include "SpectralTestSupport.h"

#include <quorvalen_dsp.h>

#include <cmath>

using namespace qvtest;

namespace
{
class SessionImage : public SpectralFixture
{
protected:
    // Fills and returns an image; the call's log lines go to `log` when given.
    static std::vector<float> image (int session, int width, int height, int* code = nullptr,
                                     std::string* log = nullptr)
    {
        std::vector<float> out ((std::size_t) width * (std::size_t) height, -7.0f);
        StdoutCapture capture;
        const int result =
            quorvalen_engine_get_cqt_spectral_session_image (session, out.data(), (uint32_t) width, height);
        const auto text = capture.finish();
        if (log != nullptr)
            *log = text;
        if (code != nullptr)
            *code = result;
        else
            EXPECT_EQ (result, 0);
        return out;
    }
    static bool allBrightness (const std::vector<float>& v)
    {
        return std::all_of (v.begin(), v.end(), [] (float x) { return x >= 0.0f && x <= 1.0f; });
    }
    static float meanOf (const std::vector<float>& v, int width, int row0, int row1, int col0, int col1)
    {
        double sum = 0.0;
        for (int r = row0; r < row1; ++r)
            for (int c = col0; c < col1; ++c)
                sum += v[(std::size_t) r * (std::size_t) width + (std::size_t) c];
        return (float) (sum / ((row1 - row0) * (col1 - col0)));
    }
    // 1 s of a 1 kHz tone with some noise, so every rendering has something to show.
    static juce::AudioBuffer<float> toneAndNoise()
    {
        auto b = sine (1000.0, 48000.0, 48000, 0.3f);
        const auto hiss = noiseBuffer (48000, 7, 0.025f);
        for (int c = 0; c < 2; ++c)
            b.addFrom (c, 0, hiss, c, 0, 48000);
        return b;
    }
};
} // namespace

TEST_F (SessionImage, ArgumentsAreCheckedBeforeTheSession)
{
    std::vector<float> out (2048 * 1024);
    EXPECT_EQ (quorvalen_engine_get_cqt_spectral_session_image (999, nullptr, 960, 385), -1);
    for (auto [w, h] : { std::pair { 31u, 385 }, { 2049u, 385 }, { 960u, 31 }, { 960u, 1025 } })
        EXPECT_EQ (quorvalen_engine_get_cqt_spectral_session_image (999, out.data(), w, h), -2);
    for (int id : { 999, 0, -1, -1000001 })
        EXPECT_EQ (quorvalen_engine_get_cqt_spectral_session_image (id, out.data(), 960, 385), -3);

    const auto s = open (cache (toneAndNoise(), 48000.0));
    ASSERT_EQ (quorvalen_engine_unload_cached ((int32_t) s.live), 0);
    int code = 0;
    image (s.session, 960, 385, &code);
    EXPECT_EQ (code, -4);
}

TEST_F (SessionImage, SizeSelectsTheRendering)
{
    const auto s = open (cache (toneAndNoise(), 48000.0));
    const auto id = std::to_string (s.session);
    std::string log;
    auto bounded = image (s.session, 961, 385, nullptr, &log);
    EXPECT_EQ (log.rfind ("[QUORVALEN Z SCULPT BOUNDED-Q DISPLAY 2.1.0] session " + id
                              + " rendered fresh bounded-Q image (961 x 385, ",
                          0),
               0u);
    EXPECT_NE (log.find (" Hz, Q 24.0, min BW 34.0 Hz)\n"), std::string::npos);

    auto precision = image (s.session, 960, 385, nullptr, &log);
    EXPECT_NE (log.find ("[QUORVALEN DUAL SPECTRAL VIEW 1.1.1] session " + id + " locked CQT display reference "),
               std::string::npos);
    EXPECT_NE (
        log.find ("[QUORVALEN DUAL SPECTRAL VIEW 1.1.1] session " + id + " CQT precision image rendered (960 x 385, "),
        std::string::npos);

    for (int h : { 384, 386 })
    {
        auto stft = image (s.session, 961, h, nullptr, &log);
        EXPECT_EQ (log, "");
        EXPECT_TRUE (allBrightness (stft));
        // 1 kHz is the brightest row, where the axis turns from logarithmic to linear:
        // warp(f) is f x 10/9 up to 1 kHz and 1000 (log10(f / 1000) + 10/9) above.
        const double top = 1000.0 * (std::log10 (24.0) + 10.0 / 9.0), bottom = 20.0 * 10.0 / 9.0;
        const double expected = (h - 1) * (top - 1000.0 * 10.0 / 9.0) / (top - bottom);
        float best = 0.0f;
        int bestRow = -1;
        for (int r = 0; r < h; ++r)
            if (const float m = meanOf (stft, 961, r, r + 1, 100, 860); m > best)
                best = m, bestRow = r;
        EXPECT_NEAR (bestRow, expected, 4.0); // bins are 47 Hz apart
    }
    for (const auto* v : { &bounded, &precision })
    {
        EXPECT_TRUE (allBrightness (*v));
        EXPECT_GT (*std::max_element (v->begin(), v->end()), 0.5f);
    }
}

TEST_F (SessionImage, SilenceIsDarkInEveryRendering)
{
    juce::AudioBuffer<float> silence (2, 20000);
    silence.clear();
    const auto s = open (cache (silence, 48000.0));
    for (auto [w, h] : { std::pair { 961, 385 }, { 960, 385 }, { 961, 384 } })
    {
        const auto v = image (s.session, w, h);
        EXPECT_EQ (*std::max_element (v.begin(), v.end()), 0.0f) << w << " x " << h;
        EXPECT_EQ (*std::min_element (v.begin(), v.end()), 0.0f) << w << " x " << h;
    }
    EXPECT_EQ (session (s.session).lockedDisplayReference, 1.0f);
}

TEST_F (SessionImage, TheReferenceIsLockedOnceSoACutDarkens)
{
    const auto s = open (cache (toneAndNoise(), 48000.0));
    std::string log;
    const auto before = image (s.session, 800, 385, nullptr, &log);
    const float reference = session (s.session).lockedDisplayReference;
    EXPECT_GT (reference, 0.0f);

    ASSERT_EQ (stroke (s.session, { { 0.5f, 0.5f, 0.5f, 0.5f, 0.0f } }, 4), (int) s.live);
    const auto after = image (s.session, 800, 385, nullptr, &log);
    EXPECT_EQ (log.find ("locked CQT display reference"), std::string::npos);
    EXPECT_EQ (session (s.session).lockedDisplayReference, reference);
    EXPECT_LT (meanOf (after, 800, 100, 300, 300, 500), 0.7f * meanOf (before, 800, 100, 300, 300, 500));
}

TEST_F (SessionImage, CommittedLaserStrokesAreDrawnBelowTheUpperHalf)
{
    const auto s = open (cache (toneAndNoise(), 48000.0));
    const auto id = std::to_string (s.session);
    std::string log;
    image (s.session, 960, 385, nullptr, &log);
    ASSERT_EQ (stroke (s.session, { { 0.5f, 0.3f, 0.1f, 0.0f, 1.0f }, { 0.6f, 0.5f, 0.1f, 0.0f, 1.0f } }, 1),
               (int) s.live);
    image (s.session, 960, 385, nullptr, &log);
    EXPECT_EQ (log.find ("LASER COEFFICIENT VISUAL"), std::string::npos);

    ASSERT_EQ (stroke (s.session, { { 0.5f, 0.9f, 0.1f, 0.0f, 1.0f } }, 1), (int) s.live);
    const auto drawn = image (s.session, 960, 385, nullptr, &log);
    EXPECT_NE (log.find ("[QUORVALEN LASER COEFFICIENT VISUAL 1.4.3] session " + id
                         + " rendered 1 committed laser stroke(s) without changing CQT geometry or audio\n"),
               std::string::npos);
    ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
    ASSERT_EQ (quorvalen_engine_redo_cqt_spectral_session (s.session), (int) s.live);
    ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
    const auto undone = image (s.session, 960, 385, nullptr, &log);
    EXPECT_EQ (log.find ("LASER COEFFICIENT VISUAL"), std::string::npos);
    // Around the stroke's centre (row 0.9 x 384, column 0.5 x 959) the overlay darkens.
    EXPECT_LT (meanOf (drawn, 960, 344, 348, 470, 490), meanOf (undone, 960, 344, 348, 470, 490));
}

TEST_F (SessionImage, NonFiniteAudioStillGivesBrightnesses)
{
    const auto s = open (cache (toneAndNoise(), 48000.0));
    auto& live = audio (s.live);
    live.setSample (0, 1000, std::nanf (""));
    live.setSample (1, 2000, INFINITY);
    live.setSample (0, 3000, 3.0e38f);
    live.setSample (1, 3000, -3.0e38f);
    for (auto [w, h] : { std::pair { 961, 385 }, { 960, 385 }, { 961, 384 } })
        EXPECT_TRUE (allBrightness (image (s.session, w, h))) << w << " x " << h;
}
