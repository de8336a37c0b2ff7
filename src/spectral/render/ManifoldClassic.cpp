#include "spectral/render/ManifoldClassic.h"

#include "dsp/LinearResample.h"
#include "spectral/cqt/CqtSettings.h"
#include "spectral/render/RenderEngineAccess.h"
#include "spectral/render/RenderLevels.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <cmath>
#include <optional>
#include <vector>

namespace quorvalen::spectral
{
namespace
{
constexpr float manifoldPeak = 0.977f;
constexpr int tileFadeSamples = 441; // 10 ms at 44.1 kHz
constexpr const char* manifoldLabel = "__manifold_classic__";

std::int64_t secondsToSamples (float seconds)
{
    return std::max<std::int64_t> (1, std::llround ((double) seconds * manifoldRate));
}

struct Source
{
    SourceAudio audio;
    std::int64_t length = 0; // at 44.1 kHz
};

// The first `count` samples of `source` at 44.1 kHz, linearly interpolated, into
// both channels of `out` (a mono source feeds both).
void resampleHead (const Source& source, std::int64_t count, juce::AudioBuffer<float>& out)
{
    const auto& in = *source.audio.buffer;
    const int samples = in.getNumSamples();
    const double step = source.audio.sampleRate / manifoldRate;
    for (int c = 0; c < 2; ++c)
        dsp::resampleLinear (in.getReadPointer (std::min (c, in.getNumChannels() - 1)), samples, step,
                             out.getWritePointer (c), count);
}

// dest += g s over [0, min(L, n)).
void mixOnce (juce::AudioBuffer<float>& dest, const juce::AudioBuffer<float>& s, std::int64_t n, float g)
{
    const auto count = (int) std::min<std::int64_t> (dest.getNumSamples(), n);
    for (int c = 0; c < 2; ++c)
        dest.addFrom (c, 0, s, c, 0, count, g);
}

// dest[j] += g s[j mod n] w, every repetition faded in and out over F samples.
void mixTiled (juce::AudioBuffer<float>& dest, const juce::AudioBuffer<float>& s, std::int64_t n, float g)
{
    const std::int64_t fade = std::min<std::int64_t> (tileFadeSamples, n / 4);
    const std::int64_t length = dest.getNumSamples();
    for (int c = 0; c < 2; ++c)
    {
        const float* x = s.getReadPointer (c);
        float* d = dest.getWritePointer (c);
        for (std::int64_t j = 0; j < length; ++j)
        {
            const std::int64_t k = j % n;
            float w = 1.0f;
            if (fade > 1)
            {
                if (k < fade)
                    w = (float) k / (float) (fade - 1);
                if (n - 1 - k < fade)
                    w *= (float) (n - 1 - k) / (float) (fade - 1);
            }
            d[j] += g * x[k] * w;
        }
    }
}

// -3..-6 for the first unusable source, else 0 with every source filled in.
int lookupSources (QuorvalenEngine& engine, const ManifoldRequest& r, std::vector<Source>& sources)
{
    for (int i = 0; i < r.count; ++i)
    {
        auto& s = sources[(std::size_t) i];
        switch (lookupSource (engine, r.ids[i], s.audio))
        {
            case SourceLookup::unknownId: return (int) ManifoldError::unknownId;
            case SourceLookup::noBuffer: return (int) ManifoldError::noBuffer;
            case SourceLookup::badRate: return (int) ManifoldError::badRate;
            case SourceLookup::ok: break;
        }
        const auto& b = *s.audio.buffer;
        const double atManifoldRate = b.getNumSamples() * manifoldRate / s.audio.sampleRate;
        if (b.getNumChannels() < 1 || b.getNumSamples() < 1 || ! (atManifoldRate > 0.0)
            || atManifoldRate > 2147483647.0)
            return (int) ManifoldError::empty;
        s.length = std::max<std::int64_t> (1, std::llround (atManifoldRate));
    }
    return 0;
}

std::int64_t outputLength (const ManifoldRequest& r, const std::vector<Source>& sources)
{
    const std::int64_t asked = secondsToSamples (clampToRange (r.lengthSeconds, 0.1f, 60.0f));
    int mainSources = 0;
    for (int i = 0; i < r.count; ++i)
        mainSources += r.roles[i] != manifoldOwnLayerRole ? 1 : 0;
    const int primaryRole = r.roles[r.primary];
    const std::int64_t primaryLength = sources[(std::size_t) r.primary].length;

    std::int64_t length = asked;
    if (mainSources == 1 && primaryRole >= 4 && primaryRole <= 6)
        length = primaryLength;
    else if (mainSources > 0)
        length = std::min (asked, primaryLength);
    if (r.fixedSeconds > 0.0f)
        length = secondsToSamples (clampToRange (r.fixedSeconds, 0.001f, 60.0f));
    return length;
}

bool isOneShot (const ManifoldRequest& r, int i)
{
    const int role = r.roles[i];
    if (role == manifoldOwnLayerRole || (i < 32 && ((r.loopMask >> i) & 1u) != 0))
        return false;
    return i == r.primary || (r.roles[r.primary] == 0 && (role == 1 || role == 3));
}

// Null when `watch` tells the render to stop (it looks before each source).
std::unique_ptr<juce::AudioBuffer<float>> renderManifold (const ManifoldRequest& r, const std::vector<Source>& sources,
                                                          LongWorkWatch& watch)
{
    const auto length = (int) outputLength (r, sources);
    auto main = std::make_unique<juce::AudioBuffer<float>> (2, length);
    juce::AudioBuffer<float> ownLayer (2, length);
    main->clear();
    ownLayer.clear();
    bool ownLayerUsed = false;

    // Only what the mix reads is resampled: at most the output's length per source.
    juce::AudioBuffer<float> head;
    for (int i = 0; i < r.count; ++i)
    {
        if (watch.stopped())
            return nullptr;
        const auto& s = sources[(std::size_t) i];
        const std::int64_t readable = std::min<std::int64_t> (s.length, length);
        head.setSize (2, (int) readable, false, false, true);
        resampleHead (s, readable, head);

        const float g = clampToRange (r.gains[i], 0.0f, 1.0f);
        const bool own = r.roles[i] == manifoldOwnLayerRole;
        auto& dest = own ? ownLayer : *main;
        ownLayerUsed = ownLayerUsed || own;
        if (isOneShot (r, i))
            mixOnce (dest, head, s.length, g);
        else
            mixTiled (dest, head, s.length, g);
    }

    if (! r.rawLevels)
        normalisePeak (*main, manifoldPeak);
    if (ownLayerUsed)
        for (int c = 0; c < 2; ++c)
            main->addFrom (c, 0, ownLayer, c, 0, length);
    normalisePeak (*main, manifoldPeak);
    return main;
}
} // namespace

namespace
{
// How much of a source the mix reads: its first two channels, and the samples up
// to the one after the last position its resampling interpolates at.
int samplesRead (const Source& s, std::int64_t outputLength)
{
    const std::int64_t readable = std::min<std::int64_t> (s.length, outputLength);
    const double step = s.audio.sampleRate / manifoldRate;
    return (int) std::min<double> (s.audio.buffer->getNumSamples(), std::floor ((double) (readable - 1) * step) + 3.0);
}

// The code of a mix whose sources moved under it (the engine lock held).
int movedSourceCode (QuorvalenEngine& engine)
{
    return (int) (engineReadyWithDevice (engine) ? ManifoldError::unknownId : ManifoldError::notReady);
}
} // namespace

int createManifoldClassic (QuorvalenEngine& engine, const ManifoldRequest& r)
{
    // Read under the lock; the copies and the mix run without it.
    std::optional<LongWorkWatch> watch;
    std::vector<Source> sources;
    std::vector<EntryCopy> copies; // one per distinct id
    std::vector<int> copyOf;       // each source's copy
    std::vector<int> copyLength;   // samples each copy needs
    {
        auto lock = lockEngine (engine);
        if (! engineReadyWithDevice (engine))
            return (int) ManifoldError::notReady;
        if (r.ids == nullptr || r.gains == nullptr || r.roles == nullptr || r.count < 1 || r.count > manifoldMaxSources
            || r.primary < 0 || r.primary >= r.count)
            return (int) ManifoldError::badArguments;
        try
        {
            sources.resize ((std::size_t) r.count);
            if (const int code = lookupSources (engine, r, sources); code != 0)
                return code;
            const auto length = outputLength (r, sources);
            watch.emplace (engine);
            copies.reserve ((std::size_t) r.count);
            for (int i = 0; i < r.count; ++i)
            {
                int k = 0;
                while (k < (int) copies.size() && copies[(std::size_t) k].id != r.ids[i])
                    ++k;
                if (k == (int) copies.size())
                {
                    noteSourceRead (engine, *watch, r.ids[i], copies.emplace_back());
                    copyLength.push_back (0);
                }
                copyOf.push_back (k);
                copyLength[(std::size_t) k] =
                    std::max (copyLength[(std::size_t) k], samplesRead (sources[(std::size_t) i], length));
            }
        }
        catch (...)
        {
            return (int) ManifoldError::outOfMemory;
        }
    }
    try
    {
        for (std::size_t k = 0; k < copies.size(); ++k)
            if (! copyEntryAudio (engine, *watch, copies[k], std::min (copies[k].channels, 2), 0, copyLength[k]))
            {
                auto lock = lockEngine (engine);
                return movedSourceCode (engine);
            }
        for (int i = 0; i < r.count; ++i)
            sources[(std::size_t) i].audio.buffer = &copies[(std::size_t) copyOf[(std::size_t) i]].audio;

        auto mix = renderManifold (r, sources, *watch);
        auto lock = lockEngine (engine);
        if (mix == nullptr || ! watch->unchanged())
            return movedSourceCode (engine);
        return (int) insertRendered (engine, std::move (mix), manifoldRate, manifoldLabel);
    }
    catch (...)
    {
        return (int) ManifoldError::outOfMemory;
    }
}

} // namespace quorvalen::spectral
