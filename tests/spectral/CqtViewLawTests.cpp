// The constant-Q session image and the constant-Q spectrogram against direct
// evaluations of their formulas on the same audio: hypotf and lroundf per
// coefficient, expf and logf per cell for the log-domain interpolation, log10f
// and powf per brightness, nth_element for the percentile. The engine takes
// magnitudes as squares compared in double, cell indices from tables, and the
// logs and the gamma in double two cells at a time; what it must keep exact it
// does (cell maxima, fill, smoothing, percentile), and the brightness stays
// within a few parts in 1e7 of the direct one.
#include "SpectralTestSupport.h"

#include "dsp/cqt/cqt.h"
#include "spectral/SpectralBrightness.h"
#include "spectral/cqt/SpectralCqt.h"
#include "spectral/SpectralMagnitude.h"

#include <quorvalen_dsp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace qvtest;
using namespace quorvalen;

namespace
{
float directPercentile (std::vector<float> values)
{
    std::erase_if (values, [] (float v) { return ! (v > 1e-12f); });
    if (values.empty())
        return 1.0f;
    const auto k = std::min ((std::size_t) std::floor ((double) (values.size() - 1) * 0.997), values.size() - 1);
    std::nth_element (values.begin(), values.begin() + (std::ptrdiff_t) k, values.end());
    return std::max (std::isfinite (values[k]) ? values[k] : 3.0e38f, 1e-12f);
}

float logLerp (float a, float b, float t)
{
    const float la = std::log (std::max (a, 1e-12f)), lb = std::log (std::max (b, 1e-12f));
    return std::exp (la + (lb - la) * t);
}

// The session image's magnitude grid, coefficient by coefficient and cell by cell.
std::vector<float> directMagnitudeGrid (const juce::AudioBuffer<float>& audio, const cqt::Analyzer& analyzer, int width,
                                        int height)
{
    const int bands = std::max (1, analyzer.bandCount());
    const std::int64_t n = audio.getNumSamples();
    std::vector<std::vector<float>> slots ((std::size_t) bands);
    for (int b = 0; b < bands; ++b)
        slots[(std::size_t) b].assign ((std::size_t) (((n - 1) >> analyzer.bandTimeShift (b)) + 1), 0.0f);
    cqt::CoefStore store (analyzer);
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        analyzer.analyze ({ audio.getReadPointer (c), (std::size_t) n }, store);
        cqt::visit (std::as_const (store), 0, analyzer.bandCount(), 0, n,
                    [&] (int b, std::int64_t t, const std::complex<float>& z) {
            auto& s = slots[(std::size_t) b];
            const auto j = (std::size_t) (t >> analyzer.bandTimeShift (b));
            if (j < s.size())
                s[j] = std::max (s[j], std::hypot (z.real(), z.imag()));
        });
    }
    const auto bandValue = [&] (int b, double position) {
        const auto& s = slots[(std::size_t) b];
        const double z = std::ldexp (position, -analyzer.bandTimeShift (b));
        const auto last = (std::int64_t) s.size() - 1;
        const auto j0 = std::clamp<std::int64_t> ((std::int64_t) std::floor (z), 0, last);
        const auto j1 = std::min (j0 + 1, last);
        return logLerp (s[(std::size_t) j0], s[(std::size_t) j1], (float) std::clamp (z - (double) j0, 0.0, 1.0));
    };
    std::vector<float> grid ((std::size_t) width * (std::size_t) height);
    for (int r = 0; r < height; ++r)
    {
        const double x = (bands - 1) * (height > 1 ? (double) r / (height - 1) : 0.0);
        const int b0 = std::clamp ((int) std::floor (x), 0, bands - 1), b1 = std::min (b0 + 1, bands - 1);
        const auto fb = (float) std::clamp (x - b0, 0.0, 1.0);
        for (int k = 0; k < width; ++k)
        {
            const double position =
                (double) std::max<std::int64_t> (n - 1, 0) * (width > 1 ? (double) k / (width - 1) : 0.0);
            grid[(std::size_t) r * (std::size_t) width + (std::size_t) k] =
                logLerp (bandValue (b0, position), bandValue (b1, position), fb);
        }
    }
    return grid;
}

// The spectrogram: coefficients placed by lroundf, hypotf per coefficient, rows
// filled, smoothed, against the 99.7th percentile.
std::vector<float> directSpectrogram (const juce::AudioBuffer<float>& audio, double rate, int width, int height)
{
    const int channels = audio.getNumChannels();
    const int n = audio.getNumSamples();
    std::vector<float> mix ((std::size_t) n, 0.0f);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < n; ++i)
            mix[(std::size_t) i] += audio.getSample (c, i) / std::sqrt ((float) channels);
    const cqt::Analyzer analyzer (spectralCqtParams (rate, 0.85, 440.0, false));
    cqt::CoefStore store (analyzer);
    analyzer.analyze (mix, store);
    const int bands = analyzer.bandCount();
    std::vector<float> value ((std::size_t) width * (std::size_t) height, 0.0f);
    std::vector<std::uint8_t> filled (value.size(), 0);
    cqt::visit (std::as_const (store), 0, bands, 0, n, [&] (int b, std::int64_t t, const std::complex<float>& z) {
        const float u = n > 1 ? (float) t / (float) (n - 1) : 0.0f;
        const float v = bands > 1 ? (float) b / (float) (bands - 1) : 0.0f;
        const int col = std::clamp ((int) std::lroundf ((float) (width - 1) * u), 0, width - 1);
        const int row = std::clamp ((int) std::lroundf ((float) (height - 1) * v), 0, height - 1);
        const auto i = (std::size_t) row * (std::size_t) width + (std::size_t) col;
        value[i] = std::max (value[i], std::hypot (z.real(), z.imag()));
        filled[i] = 1;
    });
    for (int r = 0; r < height; ++r)
    {
        float* v = value.data() + (std::size_t) r * (std::size_t) width;
        const std::uint8_t* f = filled.data() + (std::size_t) r * (std::size_t) width;
        int previous = -1;
        for (int k = 0; k < width; ++k)
        {
            if (! f[k])
                continue;
            if (previous < 0)
                std::fill (v, v + k, v[k]);
            else
                for (int j = previous + 1; j < k; ++j)
                    v[j] = v[previous] + (v[k] - v[previous]) * (float) (j - previous) / (float) (k - previous);
            previous = k;
        }
        if (previous >= 0)
            std::fill (v + previous + 1, v + width, v[previous]);
    }
    std::vector<float> smoothed (value.size());
    const float w[3] = { 1.0f, 2.0f, 1.0f };
    for (int r = 0; r < height; ++r)
        for (int k = 0; k < width; ++k)
        {
            float sum = 0.0f;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dk = -1; dk <= 1; ++dk)
                    sum += w[dr + 1] * w[dk + 1]
                        * value[(std::size_t) std::clamp (r + dr, 0, height - 1) * (std::size_t) width
                                + (std::size_t) std::clamp (k + dk, 0, width - 1)];
            smoothed[(std::size_t) r * (std::size_t) width + (std::size_t) k] = sum / 16.0f;
        }
    const float ref = directPercentile (smoothed);
    std::vector<float> out (smoothed.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = cqtBrightness (smoothed[i], ref);
    return out;
}

// Two tones on a slowly falling level (down to the 96 dB floor and below), some
// noise, and a stretch of digital silence.
juce::AudioBuffer<float> fallingTones (int n, int channels)
{
    juce::AudioBuffer<float> audio (channels, n);
    juce::Random r (5);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < n; ++i)
        {
            const double t = i / 48000.0;
            const double level = std::pow (10.0, -6.0 * t) * (i > n / 2 && i < n / 2 + 9000 ? 0.0 : 1.0);
            const double v = 0.4 * std::sin (2 * M_PI * 330.0 * t + c) + 0.2 * std::sin (2 * M_PI * 2100.0 * t)
                + 0.01 * (r.nextFloat() - 0.5f);
            audio.setSample (c, i, (float) (level * v));
        }
    return audio;
}

float worstDifference (const std::vector<float>& a, const std::vector<float>& b)
{
    float worst = 0.0f;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max (worst, std::abs (a[i] - b[i]));
    return worst;
}

// The bounded-Q display row by row, sample by sample, as the formula reads.
std::vector<float> directBoundedQ (const juce::AudioBuffer<float>& audio, double sr, int width, int height)
{
    const int n = audio.getNumSamples();
    std::vector<float> m ((std::size_t) n, 0.0f);
    for (int c = 0; c < audio.getNumChannels(); ++c)
        for (int i = 0; i < n; ++i)
            m[(std::size_t) i] += audio.getSample (c, i) * (1.0f / (float) audio.getNumChannels());
    const cqt::Analyzer analyzer (spectralCqtParams (sr, 0.7, 440.0, false));
    const int bands = std::max (1, analyzer.bandCount());
    const double fc0 = analyzer.bandCentre (0) * sr, fcB = analyzer.bandCentre (bands - 1) * sr;
    const double fTop = fc0 < 20.0 ? 20.0 : std::min (0.49 * sr, fc0);
    const double fBottom = fcB < 20.0 ? 20.0 : std::min (fTop, fcB);
    const double lTop = std::log (std::max (fTop, 1.0)), lBottom = std::log (std::max (fBottom, 1.0));
    std::vector<float> out ((std::size_t) width * (std::size_t) height), e ((std::size_t) n);
    for (int r = 0; r < height; ++r)
    {
        const double fc = std::exp (lTop + (lBottom - lTop) * (height > 1 ? (double) r / (height - 1) : 0.0));
        const double s = std::max (0.75 * std::clamp (fc / 24.0, 34.0, 1800.0), 1.0);
        const auto a = (float) std::exp (-2.0 * M_PI * s / sr);
        const float g = 1.0f - a;
        const auto cs = (float) std::cos (2.0 * M_PI * fc / sr), sn = (float) std::sin (2.0 * M_PI * fc / sr);
        float re = 1.0f, im = 0.0f, ur = 0.0f, ui = 0.0f, vr = 0.0f, vi = 0.0f;
        for (int i = 0; i < n; ++i)
        {
            ur = m[(std::size_t) i] * re * g + ur * a;
            ui = -m[(std::size_t) i] * im * g + ui * a;
            vr = vr * a + ur * g;
            vi = vi * a + ui * g;
            e[(std::size_t) i] = 2.0f * std::sqrt (std::max (vr * vr + vi * vi, 0.0f));
            const float nr = re * cs - im * sn;
            im = re * sn + im * cs;
            re = nr;
            if ((i & 2047) == 2047)
                if (const float mag = std::sqrt (re * re + im * im); mag > 1e-12f)
                    re /= mag, im /= mag;
        }
        const auto last = (std::int64_t) n - 1;
        const auto d = std::clamp<std::int64_t> (std::llround (2.0 * sr / (2.0 * M_PI * s)), 0, last);
        for (int k = 0; k < width; ++k)
        {
            const double p = std::clamp ((double) d + (double) last * (width > 1 ? (double) k / (width - 1) : 0.0), 0.0,
                                         (double) last);
            const auto i = std::clamp<std::int64_t> ((std::int64_t) std::floor (p), 0, last);
            const auto j = std::min (i + 1, last);
            const float v = e[(std::size_t) i] + (e[(std::size_t) j] - e[(std::size_t) i]) * (float) (p - (double) i);
            out[(std::size_t) r * (std::size_t) width + (std::size_t) k] =
                std::clamp ((20.0f * std::log10 (std::max (v, 1e-9f)) + 90.0f) / 82.0f, 0.0f, 1.0f);
        }
    }
    return out;
}

using CqtViewLaw = SpectralFixture;
} // namespace

TEST (CqtViewLaws, MagnitudesAreThoseOfHypotf)
{
    std::mt19937 g (7);
    std::vector<float> parts { 0.0f,
                               -0.0f,
                               1e-45f,
                               1e-38f,
                               3.4e38f,
                               -3.4e38f,
                               1.0f,
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN() };
    for (int i = 0; i < 200000; ++i)
    {
        const std::uint32_t bits = g();
        float v;
        std::memcpy (&v, &bits, sizeof v);
        parts.push_back (v);
        parts.push_back (std::ldexp (1.0f + (float) (bits % 1000) / 1000.0f, (int) (bits % 90) - 60));
    }
    int differing = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
    {
        const float a = magnitudeOf (parts[i], parts[i + 1]), b = std::hypot (parts[i], parts[i + 1]);
        differing += std::memcmp (&a, &b, sizeof a) != 0 && ! (std::isnan (a) && std::isnan (b)) ? 1 : 0;
    }
    EXPECT_EQ (differing, 0);
}

TEST (CqtViewLaws, BrightnessRunsFollowTheLawClosely)
{
    for (const float ref : { 1e-12f, 3e-5f, 0.27f, 1.0f, 40.0f })
    {
        std::vector<float> magnitudes { 0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity(), 1e-30f };
        // Every level from 120 dB below the reference to 10 dB above, finely near the floor.
        for (double db = -120.0; db <= 10.0; db += 0.0037)
            magnitudes.push_back ((float) (ref * std::pow (10.0, db / 20.0)));
        std::vector<float> fast (magnitudes.size());
        cqtBrightnessRun (magnitudes.data(), ref, fast.data(), magnitudes.size());
        std::vector<float> direct (magnitudes.size());
        for (std::size_t i = 0; i < magnitudes.size(); ++i)
            direct[i] = cqtBrightness (magnitudes[i], ref);
        EXPECT_LE (worstDifference (fast, direct), 3e-7f) << ref;
        // Within 1 dB of the floor, where the gamma is steep, and at the ends the law itself decides.
        for (std::size_t i = 0; i < magnitudes.size(); ++i)
            if (direct[i] < 0.0283f) // (1 / 96)^0.78
                EXPECT_EQ (fast[i], direct[i]) << magnitudes[i] << " against " << ref;
    }
}

TEST (CqtViewLaws, ThePercentileIsTheSelection)
{
    std::mt19937 g (3);
    for (const std::size_t size :
         { (std::size_t) 0, (std::size_t) 1, (std::size_t) 7, (std::size_t) 1000, (std::size_t) 300000 })
    {
        std::vector<float> v;
        for (std::size_t i = 0; i < size; ++i)
        {
            const auto r = g();
            if (r % 97 == 0)
                v.push_back (std::numeric_limits<float>::quiet_NaN());
            else if (r % 89 == 0)
                v.push_back (std::numeric_limits<float>::infinity());
            else if (r % 5 == 0)
                v.push_back (1e-12f); // at the floor: not counted
            else
                v.push_back (std::ldexp ((float) (r % 4096) / 4096.0f, (int) (r % 40) - 30));
        }
        EXPECT_EQ (percentileReference (v), directPercentile (v)) << size;
    }
}

TEST_F (CqtViewLaw, TheSessionImageIsTheDirectImage)
{
    const auto sound = fallingTones (48000 * 3, 2);
    for (const bool sourceKept : { true, false })
    {
        const int id = cache (sound);
        const auto opened = open (id);
        ASSERT_GT (opened.session, 0);
        if (! sourceKept)
            quorvalen_engine_unload_cached (id); // the reference then comes from the live copy
        const cqt::Analyzer analyzer (spectralCqtParams (48000.0, 0.7, 440.0, false));
        float ref = 0.0f;
        for (const int width : { 960, 2048, 33 })
        {
            std::vector<float> out ((std::size_t) width * 385);
            StdoutCapture capture;
            ASSERT_EQ (
                quorvalen_engine_get_cqt_spectral_session_image (opened.session, out.data(), (uint32_t) width, 385), 0);
            capture.finish();
            const auto grid = directMagnitudeGrid (sound, analyzer, width, 385);
            // The reference is locked on the first image, at 960 columns.
            if (width == 960)
                ref = directPercentile (grid);
            EXPECT_EQ (session (opened.session).lockedDisplayReference, ref);
            std::vector<float> direct (grid.size());
            for (std::size_t i = 0; i < grid.size(); ++i)
                direct[i] = cqtBrightness (grid[i], ref);
            EXPECT_LE (worstDifference (out, direct), 5e-7f) << width << (sourceKept ? "" : ", source unloaded");
        }
        quorvalen_engine_end_cqt_spectral_session (opened.session);
    }
}

TEST_F (CqtViewLaw, TheSpectrogramIsTheDirectSpectrogram)
{
    for (const int channels : { 1, 2 })
    {
        const auto sound = fallingTones (48000 * 2 + 77, channels);
        const int id = cache (sound);
        for (const auto [width, height] : { std::pair { 1024, 256 }, { 300, 200 }, { 2048, 1024 }, { 32, 1024 } })
        {
            std::vector<float> out ((std::size_t) width * (std::size_t) height);
            float seconds = 0.0f;
            StdoutCapture capture;
            ASSERT_EQ (quorvalen_engine_get_cqt_spectrogram (id, out.data(), (uint32_t) width, height, &seconds), 0);
            capture.finish();
            EXPECT_LE (worstDifference (out, directSpectrogram (sound, 48000.0, width, height)), 3e-7f)
                << width << " x " << height << ", " << channels << " channel(s)";
        }
    }
}

TEST_F (CqtViewLaw, TheBoundedQDisplayIsTheDirectDisplayToTheBit)
{
    const auto sound = fallingTones (24000, 2);
    const auto opened = open (cache (sound));
    std::vector<float> out (961 * 385);
    StdoutCapture capture;
    ASSERT_EQ (quorvalen_engine_get_cqt_spectral_session_image (opened.session, out.data(), 961, 385), 0);
    capture.finish();
    const auto direct = directBoundedQ (sound, 48000.0, 961, 385);
    EXPECT_EQ (std::memcmp (out.data(), direct.data(), out.size() * sizeof (float)), 0)
        << "largest difference " << worstDifference (out, direct);
}
