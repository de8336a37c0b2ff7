#pragma once
// The three renderings of the session image, each writing every one of the
// width x height values of `out`. Dimensions are 32..2048 by 32..1024.
#include "spectral/SpectralUndoRecord.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <span>
#include <vector>

namespace quorvalen
{

namespace cqt
{
class Analyzer;
}

// Mean of the channels; non-finite samples count as 0.
std::vector<float> monoMean (const juce::AudioBuffer<float>& audio);

struct BoundedQRange
{
    double fTop = 0.0, fBottom = 0.0;
};
// A bank of heterodyne band envelopes, one per row, log-spaced from fTop to
// fBottom (the analyzer's highest and lowest band, kept inside 20 Hz .. 0.49 sr).
BoundedQRange renderBoundedQImage (std::span<const float> mono, double sampleRate, const cqt::Analyzer& analyzer,
                                   float* out, int width, int height);

// 1024-point spectra (hop 174) on an axis linear below 1 kHz, logarithmic above.
void renderStftImage (std::span<const float> mono, double sampleRate, float* out, int width, int height);

// Largest constant-Q magnitude over the channels per cell, interpolated in the
// log domain along time and across bands (row r at band (B - 1) r / (height - 1)).
// The logs are taken in double, one log per band and column rather than several
// per cell, and match what the single-precision formula takes through expf and
// logf to its own rounding; cells the images need exactly are worked out by
// that formula itself.
class CqtMagnitudeGrid
{
public:
    CqtMagnitudeGrid (const juce::AudioBuffer<float>& audio, const cqt::Analyzer& analyzer, int width, int height);

    // How far (relative) magnitudes() may lie from the formula's cells: the
    // formula rounds its logs to single precision four times over, some 1e-5 at
    // the largest of them (ln 1e-12).
    static constexpr float tolerance = 5e-5f;

    // ln of each cell's magnitude, row-major; ln 1e-12 where silent.
    const std::vector<double>& logs() const noexcept { return lnGrid; }
    // One cell's magnitude by the single-precision formula.
    float cell (int row, int column) const;
    // Every cell's magnitude: exp of its log, a silent cell exactly what the
    // formula leaves at its 1e-12 floor.
    std::vector<float> magnitudes() const;
    // The constant-Q brightness of every cell against ref (cells within 1 dB of
    // the floor by the formula itself).
    void brightness (float ref, float* out) const;

private:
    struct RowBands
    {
        int b0, b1;
        float fraction;
    };
    RowBands rowBands (int row) const;
    // Where the columns read the bands of one time step: the slots read
    // (ascending), and per column the places of its two and the fraction
    // between them.
    struct Taps
    {
        int shift = 0;
        std::vector<std::int64_t> slots;
        std::vector<std::uint32_t> at0, at1;
        std::vector<float> fraction;
    };
    Taps tapsFor (int shift) const;

    std::int64_t samples;
    int width, height, bands;
    std::vector<Taps> taps;
    std::vector<std::size_t> tapsOfBand;
    std::vector<std::vector<float>> values; // per band read by a row: its magnitude at each slot read
    std::vector<double> lnGrid;
};

// Darkens `out` along the committed laser strokes of the undo stack; the number
// of strokes that changed a cell.
int drawLaserOverlay (const std::vector<SpectralUndoRecord>& undoStack, int bands, float* out, int width, int height);

} // namespace quorvalen
