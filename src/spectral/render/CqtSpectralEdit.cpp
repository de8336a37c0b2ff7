#include "spectral/render/CqtSpectralEdit.h"

#include "core/Log.h"
#include "spectral/cqt/CqtSettings.h"
#include "spectral/render/RenderEngineAccess.h"
#include "spectral/render/RenderLevels.h"

#include <cmath>

namespace quorvalen::spectral
{
namespace
{
constexpr double edgeFadeSeconds = 0.008;
constexpr float peakLimit = 0.98f;
constexpr const char* editLabel = "__native_cqt_spectral_edit__";

// The first and last `fade` samples move linearly from the input back to the
// render, so the ends meet the unedited sound exactly.
void crossfadeEdges (const juce::AudioBuffer<float>& in, juce::AudioBuffer<float>& out, double sampleRate)
{
    const int n = out.getNumSamples();
    const int fade = (int) std::min<long> (std::max (1L, std::lround (sampleRate * edgeFadeSeconds)), n / 2);
    if (fade < 2)
        return;
    for (int ch = 0; ch < out.getNumChannels(); ++ch)
    {
        const float* x = in.getReadPointer (ch);
        float* y = out.getWritePointer (ch);
        for (int i = 0; i < fade; ++i)
        {
            const float f = (float) i / (float) (fade - 1);
            y[i] = x[i] + (y[i] - x[i]) * f;
            const int j = n - 1 - i;
            y[j] = x[j] + (y[j] - x[j]) * f;
        }
    }
}
} // namespace

std::unique_ptr<juce::AudioBuffer<float>> renderCqtSpectralEdit (const juce::AudioBuffer<float>& input,
                                                                 double sampleRate, const cqt::Analyzer& analyzer,
                                                                 const CqtBrushMask& mask)
{
    const int channels = input.getNumChannels();
    const int n = input.getNumSamples();
    auto out = std::make_unique<juce::AudioBuffer<float>> (channels, n);
    out->clear();

    cqt::CoefStore store (analyzer);
    cqt::Workspace work;
    for (int ch = 0; ch < channels; ++ch)
    {
        analyzer.analyze ({ input.getReadPointer (ch), (std::size_t) n }, store, work);
        mask.apply (store, n);
        analyzer.synthesize (store, 0, { out->getWritePointer (ch), (std::size_t) n }, work);
    }

    crossfadeEdges (input, *out, sampleRate);
    limitPeak (*out, peakLimit);
    return out;
}

int createCqtSpectralEdit (QuorvalenEngine& engine, std::uint32_t cacheId, const float* edits,
                           const std::uint32_t* modes, int count)
{
    if (edits == nullptr || modes == nullptr || count < 1)
        return (int) SpectralEditError::badArrays;
    if (count > maxSpectralEdits)
        return (int) SpectralEditError::tooManyEdits;
    auto brushes = makeBrushRecords (edits, modes, count);

    // Copy the source under the lock; render without it.
    std::unique_ptr<juce::AudioBuffer<float>> input;
    double sampleRate = 0.0;
    std::uint64_t generation = 0;
    {
        auto lock = lockEngine (engine);
        if (! engineReady (engine))
            return (int) SpectralEditError::notReady;
        SourceAudio source;
        switch (lookupSource (engine, cacheId, source))
        {
            case SourceLookup::unknownId: return (int) SpectralEditError::unknownId;
            case SourceLookup::noBuffer:
            case SourceLookup::badRate: return (int) SpectralEditError::noAudio;
            case SourceLookup::ok: break;
        }
        try
        {
            input = std::make_unique<juce::AudioBuffer<float>> (*source.buffer);
        }
        catch (...)
        {
            return (int) SpectralEditError::renderFailed;
        }
        sampleRate = source.sampleRate;
        generation = cacheGeneration (engine);
    }
    if (input->getNumChannels() < 1 || input->getNumSamples() < 1)
        return (int) SpectralEditError::empty;

    try
    {
        const cqt::Analyzer analyzer (spectralCqtParams (sampleRate, cqtOverlapFine));
        const CqtBrushMask mask (std::move (brushes), analyzer.bandCount());
        // Refused before any analysis: the work is the brushes' area.
        if (mask.cells (analyzer, input->getNumSamples()) > maxSpectralEditCells)
            return (int) SpectralEditError::tooManyEdits;
        auto out = renderCqtSpectralEdit (*input, sampleRate, analyzer, mask);
        input.reset();

        auto lock = lockEngine (engine);
        // A shutdown or a clear during the render: the result has nowhere to go.
        if (! engineReady (engine))
            return (int) SpectralEditError::notReady;
        if (cacheGeneration (engine) != generation)
            return (int) SpectralEditError::unknownId;
        const auto id = insertRendered (engine, std::move (out), sampleRate, editLabel);
        logOut ("[QUORVALEN CQT SPECTROGRAM 0.1.0] rendered cache %d from %d edits\n", (int) id, count);
        return (int) id;
    }
    catch (...)
    {
        return (int) SpectralEditError::renderFailed;
    }
}

} // namespace quorvalen::spectral
