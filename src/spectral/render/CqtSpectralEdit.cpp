#include "spectral/render/CqtSpectralEdit.h"

#include "core/Log.h"
#include "spectral/cqt/CqtSettings.h"
#include "spectral/render/RenderEngineAccess.h"
#include "spectral/render/RenderLevels.h"

#include <cmath>
#include <optional>

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
                                                                 const CqtBrushMask& mask,
                                                                 const std::function<bool()>& stop)
{
    const int channels = input.getNumChannels();
    const int n = input.getNumSamples();
    auto out = std::make_unique<juce::AudioBuffer<float>> (channels, n);
    out->clear();

    cqt::CoefStore store (analyzer);
    cqt::Workspace work;
    for (int ch = 0; ch < channels; ++ch)
    {
        if (stop())
            return nullptr;
        analyzer.analyze ({ input.getReadPointer (ch), (std::size_t) n }, store, work);
        if (stop())
            return nullptr;
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

    // Noted under the lock; copied in short holds and rendered without it. Once
    // copied, the source may go: the render follows only the engine and the cache.
    std::optional<LongWorkWatch> copying, rendering;
    EntryCopy copy;
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
        copying.emplace (engine);
        noteSourceRead (engine, *copying, cacheId, copy);
        rendering.emplace (engine);
    }
    if (copy.channels < 1 || copy.samples < 1)
        return (int) SpectralEditError::empty;
    // A shutdown, or the cache cleared or the source removed or rewritten while
    // it was copied: the code of each (the engine lock held).
    const auto moved = [&engine] {
        return engineReady (engine) ? (int) SpectralEditError::unknownId : (int) SpectralEditError::notReady;
    };

    try
    {
        const cqt::Analyzer analyzer (spectralCqtParams (copy.sampleRate, cqtOverlapFine));
        const CqtBrushMask mask (std::move (brushes), analyzer.bandCount());
        // Refused before any copy or analysis: the work is the brushes' area.
        if (mask.cells (analyzer, copy.samples, maxSpectralEditCells) > maxSpectralEditCells)
            return (int) SpectralEditError::tooManyEdits;
        if (! copyEntryAudio (engine, *copying, copy, copy.channels, 0, copy.samples))
        {
            const auto lock = lockEngine (engine);
            return moved();
        }
        auto out = renderCqtSpectralEdit (copy.audio, copy.sampleRate, analyzer, mask,
                                          [&rendering] { return rendering->stopped(); });
        copy.audio = {};

        auto lock = lockEngine (engine);
        // A shutdown or a clear during the render: the result has nowhere to go.
        if (out == nullptr || ! rendering->unchanged())
            return moved();
        const auto id = insertRendered (engine, std::move (out), copy.sampleRate, editLabel);
        logOut ("[QUORVALEN CQT SPECTROGRAM 0.1.0] rendered cache %d from %d edits\n", (int) id, count);
        return (int) id;
    }
    catch (...)
    {
        return (int) SpectralEditError::renderFailed;
    }
}

} // namespace quorvalen::spectral
