#include "rack/modules/CepstralFilter.h"

#include "dsp/OnePole.h"
#include "rack/modules/FilterModule.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

CepstralFilterState::CepstralFilterState()
        : ringLeft (fftSize), ringRight (fftSize), historyLeft (2 * taps), historyRight (2 * taps), window (fftSize),
          lifter (fftSize), power (bins), envelope (bins), binMap (bins), binWeight (bins), fftIn (fftSize),
          fftOut (fftSize), kernel (taps), kernelStep (taps), kernelTaper (taps)
{}

void resetCepstralState (CepstralFilterState& c, double sampleRate)
{
    using S = CepstralFilterState;
    c.sampleRate = sampleRate;
    if (c.fft == nullptr)
        c.fft = std::make_unique<dsp::Fft> (S::fftOrder);
    c.smoothing = dsp::onePoleTimeCoefficient (0.005, sampleRate);

    std::fill (c.ringLeft.begin(), c.ringLeft.end(), 0.0f);
    std::fill (c.ringRight.begin(), c.ringRight.end(), 0.0f);
    std::fill (c.historyLeft.begin(), c.historyLeft.end(), 0.0f);
    std::fill (c.historyRight.begin(), c.historyRight.end(), 0.0f);
    std::fill (c.kernel.begin(), c.kernel.end(), 0.0f);
    c.kernel[0] = 1.0f;
    std::fill (c.kernelStep.begin(), c.kernelStep.end(), 0.0f);

    const double pi = juce::MathConstants<double>::pi;
    for (int i = 0; i < S::fftSize; ++i)
        c.window[(size_t) i] = (float) (0.5 - 0.5 * std::cos (2.0 * pi * i / (S::fftSize - 1)));

    const int liftLength = (int) std::clamp (std::trunc (sampleRate * 0.001), 12.0, 96.0); // 1 ms of quefrency
    for (int i = 0; i < S::fftSize; ++i)
    {
        const int m = std::min (i, S::fftSize - i);
        c.lifter[(size_t) i] = m < liftLength ? (float) (0.5 + 0.5 * std::cos (pi * m / liftLength)) : 0.0f;
    }

    for (int n = 0; n < S::taps; ++n)
        c.kernelTaper[(size_t) n] = n < 192 ? 1.0f : (float) (0.5 + 0.5 * std::cos (pi * (n - 192) / 63.0));

    for (int k = 0; k < S::bins; ++k)
        c.binWeight[(size_t) k] = std::min ({ 1.0f, (float) k / 3.0f, (float) (S::bins - 1 - k) / 12.0f });

    c.binMapValid = false;
    c.ringWrite = c.historyIndex = c.hopCounter = 0;
    c.smoothedShift = c.smoothedWarp = 0.0f;
    c.amount.reset (sampleRate, 0.005);
    c.amount.setCurrentAndTargetValue (0.0f);
}

namespace
{
// 12 dB in natural-log amplitude: the most the correction moves any bin.
constexpr float maxCorrection = 1.3815511f;

void glideToPassThrough (CepstralFilterState& c) noexcept
{
    for (int n = 0; n < CepstralFilterState::taps; ++n)
        c.kernelStep[(size_t) n] = ((n == 0 ? 1.0f : 0.0f) - c.kernel[(size_t) n]) / (float) CepstralFilterState::hop;
}

bool cepstralStateFinite (const CepstralFilterState& c) noexcept
{
    float sum = c.smoothedShift + c.smoothedWarp + c.amount.getCurrentValue() + c.amount.getTargetValue();
    for (int n = 0; n < CepstralFilterState::taps; ++n)
        sum += c.kernel[(size_t) n] + c.kernelStep[(size_t) n];
    return std::isfinite (sum);
}

inline float dot (const float* kernel, const float* history) noexcept
{
    // Four running sums let the compiler vectorise the 256-tap product.
    float acc[4] = {};
    for (int k = 0; k < CepstralFilterState::taps; k += 4)
        for (int l = 0; l < 4; ++l)
            acc[l] += kernel[k + l] * history[k + l];
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

inline float sanitised (float x) noexcept
{
    return std::isfinite (x) ? x : 0.0f;
}
} // namespace

void designCepstralKernel (CepstralFilterState& c) noexcept
{
    using S = CepstralFilterState;
    constexpr int N = S::fftSize;
    constexpr int half = N / 2;

    if (std::abs (c.smoothedShift) < 0.0001f && std::abs (c.smoothedWarp) < 0.0001f)
    {
        glideToPassThrough (c);
        return;
    }

    auto* in = c.fftIn.data();
    auto* out = c.fftOut.data();
    const auto& fft = *c.fft;

    // Both channels in one transform: left real, right imaginary, oldest sample first.
    for (int k = 0; k < N; ++k)
    {
        const int r = (c.ringWrite + k) & (N - 1);
        in[k] = { c.window[(size_t) k] * c.ringLeft[(size_t) r], c.window[(size_t) k] * c.ringRight[(size_t) r] };
    }
    fft.forward (in, out);

    float peak = 0.0f;
    for (int k = 0; k <= half; ++k)
    {
        const float p = (std::norm (out[k]) + std::norm (out[(N - k) & (N - 1)])) * 0.25f;
        c.power[(size_t) k] = p;
        peak = std::max (peak, p);
    }
    // Nothing worth shaping: designing from noise would only add artefacts.
    if (! (peak >= 1.0e-12f))
    {
        glideToPassThrough (c);
        return;
    }

    // Real cepstrum of the log magnitude, liftered to keep only the smooth envelope.
    const float floorPower = std::max (peak * 1.0e-8f, 1.0e-12f);
    for (int k = 0; k < N; ++k)
        in[k] = { 0.5f * std::log (std::max (c.power[(size_t) std::min (k, N - k)], floorPower)), 0.0f };
    fft.inverse (in, out);
    for (int n = 0; n < N; ++n)
        in[n] = { c.lifter[(size_t) n] * out[n].real(), 0.0f };
    fft.forward (in, out);
    for (int k = 0; k <= half; ++k)
        c.envelope[(size_t) k] = out[k].real();

    if (! c.binMapValid || c.smoothedShift != c.mappedShift || c.smoothedWarp != c.mappedWarp)
    {
        const float ratio = std::exp2 (c.smoothedShift / 12.0f);
        const float gamma = std::exp (c.smoothedWarp * 0.006f);
        for (int k = 0; k <= half; ++k)
            c.binMap[(size_t) k] =
                std::clamp ((float) half * std::pow ((float) k / (float) half, gamma) / ratio, 0.0f, (float) half);
        c.mappedShift = c.smoothedShift;
        c.mappedWarp = c.smoothedWarp;
        c.binMapValid = true;
    }

    // Correction = moved envelope minus the present one, limited and faded at the edges.
    for (int k = 0; k <= half; ++k)
    {
        const float src = c.binMap[(size_t) k];
        const int i0 = std::clamp ((int) src, 0, half);
        const int i1 = std::min (i0 + 1, half);
        const float e0 = c.envelope[(size_t) i0];
        const float shifted = e0 + (c.envelope[(size_t) i1] - e0) * (src - (float) i0);
        const float dk =
            std::clamp (shifted - c.envelope[(size_t) k], -maxCorrection, maxCorrection) * c.binWeight[(size_t) k];
        in[k] = { dk, 0.0f };
        if (k >= 1 && k < half)
            in[N - k] = { dk, 0.0f };
    }
    fft.inverse (in, out);

    // Fold the cepstrum onto positive quefrencies: the exponential is then minimum phase.
    in[0] = { out[0].real(), 0.0f };
    for (int n = 1; n < half; ++n)
        in[n] = { 2.0f * out[n].real(), 0.0f };
    in[half] = { out[half].real(), 0.0f };
    for (int n = half + 1; n < N; ++n)
        in[n] = {};
    fft.forward (in, out);

    for (int k = 0; k <= half; ++k)
    {
        in[k] = std::exp (out[k]);
        if (k >= 1 && k < half)
            in[N - k] = std::conj (in[k]);
    }
    fft.inverse (in, out);

    for (int n = 0; n < S::taps; ++n)
    {
        float t = c.kernelTaper[(size_t) n] * out[n].real();
        if (! std::isfinite (t))
            t = n == 0 ? 1.0f : 0.0f;
        c.kernelStep[(size_t) n] = (t - c.kernel[(size_t) n]) / (float) S::hop;
    }
}

void processCepstralSample (CepstralFilterState& c, float* left, float* right, float shift, float amount,
                            float warp) noexcept
{
    using S = CepstralFilterState;

    c.smoothedShift += (shift - c.smoothedShift) * c.smoothing;
    c.smoothedWarp += (warp - c.smoothedWarp) * c.smoothing;
    c.amount.setTargetValue (amount);
    const float a = c.amount.getNextValue();

    // Non-finite input is taken as silence so that the rings and the FIR stay clean.
    const float xl = sanitised (*left);
    const float xr = right != nullptr ? sanitised (*right) : xl;
    *left = xl;
    if (right != nullptr)
        *right = xr;

    const auto h = (size_t) c.historyIndex;
    c.ringLeft[(size_t) c.ringWrite] = xl;
    c.ringRight[(size_t) c.ringWrite] = xr;
    c.historyLeft[h] = c.historyLeft[h + S::taps] = xl;
    c.historyRight[h] = c.historyRight[h + S::taps] = xr;
    c.ringWrite = (c.ringWrite + 1) & (S::fftSize - 1);

    if (++c.hopCounter >= S::hop)
    {
        c.hopCounter = 0;
        if (a > 0.0f || amount > 0.0f)
            designCepstralKernel (c);
        else
            std::fill (c.kernelStep.begin(), c.kernelStep.end(), 0.0f);
    }

    juce::FloatVectorOperations::add (c.kernel.data(), c.kernelStep.data(), S::taps);

    if (a > 0.0f)
    {
        const float yl = dot (c.kernel.data(), c.historyLeft.data() + h);
        *left = xl + (yl - xl) * a;
        if (right != nullptr)
        {
            const float yr = dot (c.kernel.data(), c.historyRight.data() + h);
            *right = xr + (yr - xr) * a;
        }
    }

    c.historyIndex = (c.historyIndex + S::taps - 1) % S::taps;
}

void FilterModule::processCepstral (RackBlock block, const QuorvalenRackSettings& s, const RackLanes& lanes)
{
    auto& buffer = block.buffer;
    const int n = block.count;
    const int ch = std::min (buffer.getNumChannels(), 2);
    if (ch < 1 || n < 1)
        return;

    juce::ScopedNoDenormals noDenormals;
    auto& c = cepstral;

    // A state poisoned by an earlier fault starts over from pass-through.
    if (modulation.repair() || ! cepstralStateFinite (c))
        resetCepstralState (c, sampleRate);

    float* left = buffer.getWritePointer (0, block.start);
    float* right = ch > 1 ? buffer.getWritePointer (1, block.start) : nullptr;
    const auto len = lanes.timeline().playLength;
    const double rate = sampleRate;
    namespace P = rackParameter;
    // Every lane is read at every sample: cursors keep each read O(1).
    AutomationLaneCursor cursors[10];

    for (int i = 0; i < n; ++i)
    {
        const auto q = lanes.timeline().automationPosition (i);
        float shift = lanes.readAt (P::filterCepsShift, s.filter.cepsShift, q, &cursors[0]);
        const float amount = lanes.readAt (P::filterCepsAmount, s.filter.cepsAmount, q, &cursors[1]) / 100.0f;
        float warp = lanes.readAt (P::filterCepsWarp, s.filter.cepsWarp, q, &cursors[2]);
        const float lfoDepth = lanes.readAt (P::filterLfo, s.filter.lfo, q, &cursors[3]) / 100.0f;
        const float lfoRate = lanes.readAt (P::filterLfoRate, s.filter.lfoRate, q, &cursors[4]) / 100.0f;

        const float lfo = modulation.advance (s.filter.lfoShape, filterLfoHz (s, lfoRate), rate, noise);
        float a = lfo * lfoDepth * 0.5f + amount;

        if (s.filter.envEnabled)
        {
            const auto envelope =
                makeFilterEnvelope (lanes.readAt (P::filterEnvDelay, s.filter.envDelay, q, &cursors[5]),
                                    lanes.readAt (P::filterEnvAttack, s.filter.envAttack, q, &cursors[6]),
                                    lanes.readAt (P::filterEnvDecay, s.filter.envDecay, q, &cursors[7]),
                                    lanes.readAt (P::filterEnvSustain, s.filter.envSustain, q, &cursors[8]),
                                    s.filter.envRelease, rate, len);
            float e = lanes.readAt (P::filterEnvAmount, s.filter.envAmount, q, &cursors[9]) / 100.0f
                * filterEnvelopeAt (envelope, q);
            if (s.filter.envInvert)
                e = -e;
            if (s.filter.cepsEnvTargetAmount)
                a += e;
            if (s.filter.cepsEnvTargetShift)
                shift += 12.0f * e;
            if (s.filter.cepsEnvTargetWarp)
                warp += 100.0f * e;
        }

        warp = std::clamp (warp, -100.0f, 100.0f);
        shift = std::clamp (shift, -12.0f, 12.0f);
        // The on switch only lets the amount rise above zero; the filter keeps listening.
        const float effective = s.filter.enabled && a > 0.0f ? std::min (a, 1.0f) : 0.0f;
        processCepstralSample (c, left + i, right != nullptr ? right + i : nullptr, shift, effective, warp);
    }

    // Debug builds flag a blown-up block; every build keeps it from reaching the
    // modules downstream and starts the filter over.
    bool finite = cepstralStateFinite (c);
    for (int i = 0; i < n && finite; ++i)
        finite = std::isfinite (left[i]) && (right == nullptr || std::isfinite (right[i]));
    jassert (finite);
    if (! finite)
    {
        for (int i = 0; i < n; ++i)
        {
            left[i] = sanitised (left[i]);
            if (right != nullptr)
                right[i] = sanitised (right[i]);
        }
        resetCepstralState (c, sampleRate);
    }
}

} // namespace quorvalen
