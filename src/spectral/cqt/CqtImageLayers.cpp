// The layers of the constant-Q session image: the magnitude grid of an entry and
// the overlay of committed laser strokes.
#include "spectral/SessionImageRenderings.h"

#include "dsp/cqt/cqt.h"
#include "spectral/SpectralBrightness.h"
#include "spectral/SpectralMagnitude.h"
#include "spectral/SpectralVectorMath.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{
namespace
{
// S(x) = (3 - 2x) x^2 with x clamped to [0, 1].
float smoothStep (float x)
{
    x = std::clamp (x, 0.0f, 1.0f);
    return (3.0f - 2.0f * x) * x * x;
}

const double lnFloor = FloatLog::table() (1e-12f);
} // namespace

std::vector<float> monoMean (const juce::AudioBuffer<float>& audio)
{
    const int channels = audio.getNumChannels();
    const auto n = (std::size_t) audio.getNumSamples();
    std::vector<float> mono (n, 0.0f);
    const float scale = 1.0f / (float) channels;
    for (int c = 0; c < channels; ++c)
    {
        const float* x = audio.getReadPointer (c);
        for (std::size_t i = 0; i < n; ++i)
            mono[i] += std::isfinite (x[i]) ? x[i] * scale : 0.0f;
    }
    return mono;
}

CqtMagnitudeGrid::CqtMagnitudeGrid (const juce::AudioBuffer<float>& audio, const cqt::Analyzer& analyzer, int w, int h)
        : samples (audio.getNumSamples()), width (w), height (h), bands (std::max (1, analyzer.bandCount()))
{
    const std::int64_t n = samples;
    // The rows read bands b0 and b1 each; a band is read at two slots per
    // column. Only those slots are worked out: one per time step of the band
    // is the whole band, and beyond a few thousand columns most are never read.
    std::vector<bool> used ((std::size_t) bands, false);
    for (int r = 0; r < height; ++r)
    {
        const auto rb = rowBands (r);
        used[(std::size_t) rb.b0] = used[(std::size_t) rb.b1] = true;
    }
    tapsOfBand.assign ((std::size_t) bands, 0);
    for (int b = 0; b < bands; ++b)
    {
        const int shift = analyzer.bandTimeShift (b);
        std::size_t t = 0;
        while (t < taps.size() && taps[t].shift != shift)
            ++t;
        if (t == taps.size())
            taps.push_back (tapsFor (shift));
        tapsOfBand[(std::size_t) b] = t;
    }
    values.resize ((std::size_t) bands);
    for (int b = 0; b < bands; ++b)
        if (used[(std::size_t) b])
            values[(std::size_t) b].assign (taps[tapsOfBand[(std::size_t) b]].slots.size(), 0.0f);

    // Per slot the largest magnitude over the channels (each channel has one
    // coefficient at a slot's time), as hypotf gives it: the squares compared
    // in double order as the magnitudes do, and the root of the largest, rounded
    // to float, is the largest magnitude, so one root per slot is taken.
    std::vector<std::vector<double>> squares ((std::size_t) bands);
    for (int b = 0; b < bands; ++b)
        squares[(std::size_t) b].assign (values[(std::size_t) b].size(), -1.0);
    cqt::CoefStore store (analyzer);
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        analyzer.analyze ({ audio.getReadPointer (c), (std::size_t) n }, store);
        for (int b = 0; b < std::min (analyzer.bandCount(), store.bands()); ++b)
        {
            if (! used[(std::size_t) b])
                continue;
            const auto coefs = store.band (b);
            const std::int64_t first = store.firstIndex (b), count = (std::int64_t) coefs.size();
            const auto& slots = taps[tapsOfBand[(std::size_t) b]].slots;
            auto& d = squares[(std::size_t) b];
            for (std::size_t i = 0; i < slots.size(); ++i)
                if (const std::int64_t at = slots[i] - first; at >= 0 && at < count)
                {
                    const auto z = coefs[(std::size_t) at];
                    const double square = squaredMagnitude (z.real(), z.imag());
                    if (square > d[i])
                        d[i] = square;
                    else if (std::isnan (square) && (std::isinf (z.real()) || std::isinf (z.imag())))
                        d[i] = HUGE_VAL; // hypotf reads an infinite part as infinite whatever the other
                }
        }
    }
    for (int b = 0; b < bands; ++b)
        for (std::size_t i = 0; i < squares[(std::size_t) b].size(); ++i)
            if (const double square = squares[(std::size_t) b][i]; square >= 0.0)
                values[(std::size_t) b][i] = (float) std::sqrt (square);
    squares = {};

    // Per band a row of ln V (b, column), V the band's value interpolated in the
    // log domain along time, floored at 1e-12: found once for every image row
    // that reads the band.
    std::vector<double> slotLogs;
    const auto& lnFloat = FloatLog::table();
    const auto bandRow = [&] (int b, std::vector<double>& row) {
        const auto& v = values[(std::size_t) b];
        const auto& tap = taps[tapsOfBand[(std::size_t) b]];
        slotLogs.resize (v.size());
        for (std::size_t i = 0; i < v.size(); ++i)
            slotLogs[i] = lnFloat (std::max (v[i], 1e-12f));
        row.resize ((std::size_t) width);
        for (std::size_t k = 0; k < (std::size_t) width; ++k)
        {
            const double before = slotLogs[tap.at0[k]], after = slotLogs[tap.at1[k]];
            row[k] = std::max (before + (after - before) * (double) tap.fraction[k], lnFloor);
        }
    };

    lnGrid.resize ((std::size_t) width * (std::size_t) height);
    // The rows read bands in order; keep the two last band rows.
    int cachedBand[2] = { -1, -1 };
    std::vector<double> cached[2];
    const auto rowOf = [&] (int b) -> const std::vector<double>& {
        for (int i = 0; i < 2; ++i)
            if (cachedBand[i] == b)
                return cached[i];
        const int slot = cachedBand[0] < cachedBand[1] ? 0 : 1;
        cachedBand[slot] = b;
        bandRow (b, cached[slot]);
        return cached[slot];
    };
    for (int r = 0; r < height; ++r)
    {
        const auto [b0, b1, fb] = rowBands (r);
        const auto& v0 = rowOf (b0);
        const auto& v1 = rowOf (b1);
        double* out = lnGrid.data() + (std::size_t) r * (std::size_t) width;
        for (std::size_t k = 0; k < (std::size_t) width; ++k)
            out[k] = v0[k] + (v1[k] - v0[k]) * (double) fb;
    }
}

CqtMagnitudeGrid::Taps CqtMagnitudeGrid::tapsFor (int shift) const
{
    // Column k reads slots j0 and j1 around its time and the fraction between them.
    const std::int64_t last = ((samples - 1) >> shift);
    std::vector<std::int64_t> j0 ((std::size_t) width);
    Taps tap;
    tap.shift = shift;
    tap.fraction.resize ((std::size_t) width);
    for (int k = 0; k < width; ++k)
    {
        const double u = width > 1 ? (double) k / (double) (width - 1) : 0.0;
        const double position = (double) std::max<std::int64_t> (samples - 1, 0) * u;
        const double z = std::ldexp (position, -shift);
        j0[(std::size_t) k] = std::clamp<std::int64_t> ((std::int64_t) std::floor (z), 0, last);
        tap.fraction[(std::size_t) k] = (float) std::clamp (z - (double) j0[(std::size_t) k], 0.0, 1.0);
    }
    // The slots read, ascending, and where each column's two lie among them.
    for (int k = 0; k < width; ++k)
        for (const std::int64_t j : { j0[(std::size_t) k], std::min (j0[(std::size_t) k] + 1, last) })
            if (tap.slots.empty() || tap.slots.back() < j)
                tap.slots.push_back (j);
    for (int k = 0; k < width; ++k)
    {
        const auto at = [&] (std::int64_t j) {
            return (std::uint32_t) (std::lower_bound (tap.slots.begin(), tap.slots.end(), j) - tap.slots.begin());
        };
        tap.at0.push_back (at (j0[(std::size_t) k]));
        tap.at1.push_back (at (std::min (j0[(std::size_t) k] + 1, last)));
    }
    return tap;
}

CqtMagnitudeGrid::RowBands CqtMagnitudeGrid::rowBands (int r) const
{
    const double t = height > 1 ? (double) r / (double) (height - 1) : 0.0;
    const double x = (bands - 1) * t;
    const int b0 = std::clamp ((int) std::floor (x), 0, bands - 1);
    return { b0, std::min (b0 + 1, bands - 1), (float) std::clamp (x - b0, 0.0, 1.0) };
}

float CqtMagnitudeGrid::cell (int row, int column) const
{
    const auto logLerp = [] (float a, float b, float t) {
        const float la = std::log (std::max (a, 1e-12f)), lb = std::log (std::max (b, 1e-12f));
        return std::exp (la + (lb - la) * t);
    };
    const auto k = (std::size_t) column;
    const auto bandValue = [&] (int b) {
        const auto& v = values[(std::size_t) b];
        const auto& tap = taps[tapsOfBand[(std::size_t) b]];
        return logLerp (v[tap.at0[k]], v[tap.at1[k]], tap.fraction[k]);
    };
    const auto [b0, b1, fb] = rowBands (row);
    return logLerp (bandValue (b0), bandValue (b1), fb);
}

std::vector<float> CqtMagnitudeGrid::magnitudes() const
{
    // A cell on the floor throughout holds what the single-precision formula
    // leaves there: exp of ln 1e-12, floored and taken through log and exp again.
    const float floorValue = std::exp (std::log (std::max (std::exp (std::log (1e-12f)), 1e-12f)));
    std::vector<float> out (lnGrid.size());
    std::size_t i = 0;
    for (; i + 2 <= lnGrid.size(); i += 2)
    {
        alignas (16) double e[2];
        _mm_store_pd (e, expPd (_mm_loadu_pd (lnGrid.data() + i)));
        for (std::size_t l = 0; l < 2; ++l)
            out[i + l] = lnGrid[i + l] <= lnFloor ? floorValue : (float) e[l];
    }
    for (; i < lnGrid.size(); ++i)
        out[i] = lnGrid[i] <= lnFloor ? floorValue : (float) std::exp (lnGrid[i]);
    return out;
}

void CqtMagnitudeGrid::brightness (float ref, float* out) const
{
    cqtBrightnessFromLogRun (lnGrid.data(), ref, out, lnGrid.size());
    for (int r = 0; r < height; ++r)
        for (int k = 0; k < width; ++k)
        {
            float& o = out[(std::size_t) r * (std::size_t) width + (std::size_t) k];
            if (o < 0.0f)
                o = cqtBrightness (cell (r, k), ref);
        }
}

int drawLaserOverlay (const std::vector<SpectralUndoRecord>& undoStack, int bands, float* out, int width, int height)
{
    bands = std::max (1, bands);
    std::vector<float> mask;
    int drawn = 0;
    for (const auto& record : undoStack)
    {
        if (record.laser.empty())
            continue;
        mask.assign ((std::size_t) width * (std::size_t) height, 0.0f);
        for (const auto& laser : record.laser)
        {
            const int bi = std::clamp (laser.band, 0, bands - 1);
            const float y = bands > 1 ? (float) bi / (float) (bands - 1) : 0.0f;
            const float h = std::clamp ((y - 0.52f) / 0.2f, 0.0f, 1.0f);
            const float fade = (3.0f - 2.0f * h) * h * h;
            if (! (fade > 0.0f))
                continue;
            const float cy = (float) (height - 1) * y;
            const float cx = (float) (width - 1) * std::clamp (laser.time, 0.0f, 1.0f);
            const float rx = std::max ((float) (width - 1) * std::clamp (laser.size, 0.0005f, 1.0f), 1.5f);
            auto span = [] (float low, float high, int cells) {
                const int a = std::clamp ((int) std::floor (low), 0, cells - 1);
                return std::pair { a, std::max (a, std::clamp ((int) std::ceil (high), 0, cells - 1)) };
            };
            const auto [row0, row1] = span (cy - 1.4f, cy + 1.4f, height);
            const auto [col0, col1] = span (cx - rx, cx + rx, width);
            const float strength = std::clamp (laser.strength, 0.0f, 1.0f) * 0.54f * fade;
            for (int row = row0; row <= row1; ++row)
            {
                const float dr = std::abs ((float) row - cy) / 1.4f;
                if (dr > 1.0f)
                    continue;
                const float wr = 1.0f - smoothStep (dr);
                for (int col = col0; col <= col1; ++col)
                {
                    const float dc = std::abs ((float) col - cx) / rx;
                    if (dc > 1.0f)
                        continue;
                    const float wc = 1.0f - smoothStep ((dc - 0.68f) / 0.32f);
                    auto& cell = mask[(std::size_t) row * (std::size_t) width + (std::size_t) col];
                    cell = std::max (cell, std::clamp (strength * wr * wc, 0.0f, 0.58f));
                }
            }
        }
        bool changed = false;
        for (std::size_t i = 0; i < mask.size(); ++i)
            if (mask[i] > 0.0f)
            {
                out[i] = (1.0f - mask[i]) * out[i];
                changed = true;
            }
        drawn += changed ? 1 : 0;
    }
    return drawn;
}

} // namespace quorvalen
