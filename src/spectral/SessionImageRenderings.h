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
std::vector<float> renderCqtMagnitudeGrid (const juce::AudioBuffer<float>& audio, const cqt::Analyzer& analyzer,
                                           int width, int height);

// Darkens `out` along the committed laser strokes of the undo stack; the number
// of strokes that changed a cell.
int drawLaserOverlay (const std::vector<SpectralUndoRecord>& undoStack, int bands, float* out, int width, int height);

} // namespace quorvalen
