// The preview renderer: each layer through its stages in a reserved entry, the
// joins, the overtone overlay and the finish, all into a buffer private to the
// render; the result reaches the engine only through the caller's install.
#include "core/Log.h"
#include "foundry/FoundryAutomation.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryLayerStages.h"
#include "foundry/FoundryMorph.h"
#include "foundry/FoundryPreview.h"
#include "foundry/FoundryPreviewRecord.h"
#include "foundry/FoundryStageMath.h"

namespace quorvalen::foundry
{

namespace
{

void diag (const char* text)
{
    logLine ("[FOUNDRY DIAG] %s\n", text);
}

// Lane presence at render start, layer by parameter.
using LanePresence = std::array<std::array<bool, foundryParameterCount>, foundryLayerCount>;

struct Render
{
    QuorvalenEngine& engine;
    const FoundryPreviewArgs& a;
    bool liveFilter;
    LanePresence lanes {};
    bool joinedBoth = false; // the road of body and tail reached its joins

    // Filter block starting at parameter n (on, hz, res, on, hz, res), gated by the
    // layer's cutoff and resonance lanes and by live-filter mode.
    LayerFilterSettings filters (int n, int layer, bool gated) const
    {
        const auto& l = lanes[(size_t) layer];
        const bool hpLane = l[lane::highPassCutoff] || l[lane::highPassResonance];
        const bool lpLane = l[lane::lowPassCutoff] || l[lane::lowPassResonance];
        return { a.flag (n) && ! (gated && (hpLane || liveFilter)),     a.f (n + 1), a.f (n + 2),
                 a.flag (n + 3) && ! (gated && (lpLane || liveFilter)), a.f (n + 4), a.f (n + 5) };
    }
    float unlessLane (int layer, int parameter, float value, float neutral) const
    {
        return lanes[(size_t) layer][(size_t) parameter] ? neutral : value;
    }
};

// max(x, lo), with a non-finite x as 0.
float atLeast (float x, float lo)
{
    return std::max (finiteOr (x, 0.0f), lo);
}

void eraseFoundryTemporaryCaches (QuorvalenEngine& engine)
{
    for (const auto id : { transientLayerId, bodyLayerId, tailLayerId, overtoneLayerId, compositeId })
    {
        const auto lock = lockEngine (engine);
        eraseEntry (engine, id);
    }
}

// Transient, body and tail layers into their reserved entries.
int renderLayers (Render& r, float transientBase, float bodyBase, float tailBase)
{
    auto& e = r.engine;
    const auto& a = r.a;
    const int mono = a.i (34);
    if (const int code =
            renderFoundryProcessedRegion (e, a.i (1), transientLayerId, r.unlessLane (0, lane::pitch, a.f (8), 0.0f),
                                          r.unlessLane (0, lane::level, a.f (9), 100.0f), a.f (10), false))
    {
        diag ("FAIL transient process");
        return code;
    }
    diag ("04 transient processed");
    int code = applyFoundryLayerFilters (e, transientLayerId, r.filters (12, 0, true));
    if (code == done)
        code = applyFoundryMonoInvert (e, transientLayerId, (mono & 1) != 0, false);
    if (code != done)
        return code;
    diag ("05 transient filters complete");
    code = shapeFoundryTransient (e, transientLayerId, a.f (11));
    if (code == done)
        code = renderFoundryLayerStage (e, transientLayerId, 0, 0, false, r.filters (12, 0, false), transientBase);
    if (code == done)
        code = applyFoundryEdgeFades (e, transientLayerId, 3.0f);
    if (code != done)
        return code;
    diag ("06 transient fade complete");
    return done;
}

// Where a joined layer (body or tail) finds its arguments.
struct LayerRoad
{
    int layer;
    std::int32_t target;
    int source, pitch, heat, filters; // parameter numbers
    int monoBit;
    bool bodyVariant, widthStage;
};

// Cut, filters, heat, (width), mono, lane stage and edge fades of a body or tail.
int renderJoinedLayer (Render& r, const LayerRoad& road, float base)
{
    auto& e = r.engine;
    const auto& a = r.a;
    const int heatMode = road.bodyVariant ? 0 : a.i (32);
    int code = renderFoundryProcessedRegion (
        e, a.i (road.source), road.target, r.unlessLane (road.layer, lane::pitch, a.f (road.pitch), 0.0f),
        r.unlessLane (road.layer, lane::level, a.f (road.pitch + 1), 100.0f), a.f (road.pitch + 2), false);
    if (code == done)
        code = applyFoundryLayerFilters (e, road.target, r.filters (road.filters, road.layer, true));
    if (code == done)
        code = applyFoundryLayerHeat (e, road.target, r.unlessLane (road.layer, lane::heat, a.f (road.heat), 0.0f),
                                      heatMode, road.bodyVariant);
    if (code == done && road.widthStage)
        code = applyFoundryStereoWidth (e, road.target, r.unlessLane (road.layer, lane::width, a.f (33), 0.0f));
    if (code == done)
        code = applyFoundryMonoInvert (e, road.target, (a.i (34) & road.monoBit) != 0, false);
    if (code == done)
        code = renderFoundryLayerStage (e, road.target, (std::uint32_t) road.layer, heatMode, road.bodyVariant,
                                        r.filters (road.filters, road.layer, false), base);
    if (code == done)
        code = applyFoundryEdgeFades (e, road.target, 3.0f);
    return code;
}

constexpr LayerRoad bodyRoad { 1, bodyLayerId, 2, 18, 21, 22, 2, true, false };
constexpr LayerRoad tailRoad { 2, tailLayerId, 3, 28, 31, 36, 4, false, true };

// The processed transient as it stands, copied into the render's buffer.
int copyTransient (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>>& out)
{
    const auto lock = lockEngine (engine);
    const auto found = lookupEntry (engine, transientLayerId, Needs::buffer);
    if (found.entry == nullptr)
        return unknownId;
    out = std::make_unique<juce::AudioBuffer<float>>();
    out->makeCopyOf (*found.entry->buffer);
    return done;
}

// Transient joined to body, the composite to the tail.
int joinLayers (Render& r, bool body, bool tail, std::unique_ptr<juce::AudioBuffer<float>>& out, double rate)
{
    auto& e = r.engine;
    const auto& a = r.a;
    if (! body && ! tail)
        return copyTransient (e, out);
    if (! tail)
        return joinFoundryLayers (e, transientLayerId, bodyLayerId, a.f (4), a.f (6), out);
    if (! body)
        return joinFoundryLayers (e, transientLayerId, tailLayerId, a.f (5), a.f (7), out);

    r.joinedBoth = true;
    diag ("12 starting T->B morph");
    if (const int code = joinFoundryLayers (e, transientLayerId, bodyLayerId, a.f (4), a.f (6), out))
        return code;
    {
        const auto lock = lockEngine (e);
        if (out == nullptr)
            return noPreviewBuffer;
        auto composite = std::make_unique<juce::AudioBuffer<float>>();
        composite->makeCopyOf (*out);
        replaceEntry (e, compositeId, { std::move (composite), rate, "__foundry_composite_preview__" });
    }
    diag ("13 T->B composite cached");
    diag ("14 starting composite->Tail morph");
    const int code = joinFoundryLayers (e, compositeId, tailLayerId, a.f (5), a.f (7), out);
    if (code == done)
        diag ("15 composite->Tail morph complete; overtone next");
    return code;
}

OvertoneOverlay overtoneOf (const FoundryPreviewArgs& a)
{
    OvertoneOverlay o;
    o.sourceId = a.i (42);
    o.overlayStartMs = a.f (43);
    o.overlayEndMs = a.f (44);
    o.sourceStartMs = a.f (45);
    o.semitones = a.f (46);
    o.levelPercent = a.f (47);
    o.drivePercent = a.f (48);
    o.fadeInPercent = a.f (49);
    o.fadeOutPercent = a.f (50);
    o.mono = (a.i (34) & 8) != 0;
    o.invert = a.flag (35);
    o.highPassOn = a.flag (51);
    o.highPassHz = a.f (52);
    o.lowPassOn = a.flag (53);
    o.lowPassHz = a.f (54);
    return o;
}

// Joins, overlays and finishes; the temporaries are left to the caller's cleanup.
int renderAfterCacheTest (Render& r, PreviewCompletion& completion, const PreviewInstall& install)
{
    auto& e = r.engine;
    const auto& a = r.a;
    const bool body = a.i (2) >= 1, tail = a.i (3) >= 1;
    const float p4 = a.f (4), p5 = a.f (5);
    // A length that is not a number, infinite included, sets nothing.
    const float p55 = std::isfinite (a.f (55)) ? a.f (55) : std::numeric_limits<float>::quiet_NaN();
    const float transientBase = body ? atLeast (p4, 1.0f) : (tail ? atLeast (p5, 1.0f) : atLeast (p55, 0.0f));
    const float bodyBase = tail ? atLeast (p5 - p4, 1.0f) : (p55 > p4 ? atLeast (p55 - p4, 1.0f) : 0.0f);
    const float tailBase = p55 > p5 ? atLeast (p55 - p5, 1.0f) : 0.0f;

    if (const int code = renderLayers (r, transientBase, bodyBase, tailBase))
        return code;
    double rate = 0.0;
    {
        const auto lock = lockEngine (e);
        const auto found = lookupEntry (e, transientLayerId, Needs::buffer);
        if (found.entry == nullptr)
            return unknownId;
        rate = found.entry->sampleRate;
    }
    diag ("07 render sample rate acquired");
    if (body)
    {
        diag ("08 processing body");
        if (const int code = renderJoinedLayer (r, bodyRoad, bodyBase))
            return code;
    }
    diag ("09 body stage complete");
    if (tail)
    {
        diag ("10 processing tail");
        if (const int code = renderJoinedLayer (r, tailRoad, tailBase))
            return code;
    }
    diag ("11 tail stage complete");

    std::unique_ptr<juce::AudioBuffer<float>> preview;
    if (const int code = joinLayers (r, body, tail, preview, rate))
        return code;
    if (const int code = overlayFoundryOvertone (e, overtoneOf (a), rate, preview))
        return code;
    const bool both = body && tail;
    if (both)
        diag ("16 overtone complete; finalise next");

    int code = noPreviewBuffer;
    if (preview != nullptr && preview->getNumSamples() >= 1)
    {
        code = badRate;
        if (rate > 0.0)
        {
            FinishedPreview finished { finaliseFoundryPreview (*preview, rate, p55, 5.0f, a.f (56), a.f (57)), rate };
            code = noPreviewBuffer;
            if (finished.audio != nullptr)
            {
                const auto lock = lockEngine (e);
                setFinishedPreviewRate (e, rate);
                storeCompletedFoundryPreview (e, completion, *finished.audio, rate);
                install (finished);
                code = done;
            }
        }
    }
    if (both)
        diag ("17 finalise returned");
    return code;
}

} // namespace

bool previewTimeBeyondLimit (const FoundryPreviewArgs& a)
{
    const bool body = a.i (2) >= 1, tail = a.i (3) >= 1, overtone = a.i (42) >= 1;
    return beyondFoundryLimit (a.f (55)) || (body && (beyondFoundryLimit (a.f (4)) || beyondFoundryLimit (a.f (6))))
        || (tail && (beyondFoundryLimit (a.f (5)) || beyondFoundryLimit (a.f (7))))
        || (overtone && (beyondFoundryLimit (a.f (43)) || beyondFoundryLimit (a.f (44))));
}

int renderFoundryPreview (QuorvalenEngine& engine, const FoundryPreviewArgs& a, bool liveFilter, bool stopFirst,
                          const PreviewInstall& install)
{
    const auto renderLock = lockRender (engine);
    diag ("01 playCachedFoundryPreview ENTER");
    // Refused before playback stops or anything is allocated.
    if (previewTimeBeyondLimit (a))
        return noPreviewBuffer;
    if (stopFirst)
    {
        const auto lock = lockEngine (engine);
        stopEnginePlayback (engine);
    }
    neutraliseFoundryAudition (engine);
    diag ("02 audition filters disabled");
    diag ("03 audition character neutralised");

    Render r { engine, a, liveFilter };
    PreviewCompletion completion;
    completion.params.assign (a.p.begin(), a.p.end());
    completion.params.push_back (liveFilter ? 1.0 : 0.0);
    completion.ids = { a.i (1), a.i (2), a.i (3), a.i (42) };
    {
        const auto lock = lockEngine (engine);
        completion.generation = foundryGenerationOf (engine);
        appendFoundryLanes (engine, completion.params);
        const auto& lanes = automationLanesOf (engine);
        for (size_t l = 0; l < lanes.size(); ++l)
            for (size_t p = 0; p < lanes[l].size(); ++p)
                r.lanes[l][p] = lanes[l][p].hasPoints();
        SourceSlots slots;
        const bool cacheable = collectFoundrySourceSnapshots (engine, completion.ids, liveFilter, slots);
        const auto* cached = previewCacheOf (engine);
        if (cacheable && cached != nullptr && cached->preview != nullptr
            && foundryRenderParamsEqual (*cached, completion.params, slots))
        {
            FinishedPreview hit { std::make_unique<juce::AudioBuffer<float>>(), cached->previewSampleRate };
            hit.audio->makeCopyOf (*cached->preview);
            setFinishedPreviewRate (engine, hit.sampleRate);
            install (hit);
            diag ("CACHE HIT completed clean preview reused");
            return done;
        }
        setPreviewCache (engine, nullptr);
        if (cacheable)
            completion.record = snapshotFoundryBuffers (completion.params, slots);
    }

    int code = noPreviewBuffer;
    try
    {
        code = renderAfterCacheTest (r, completion, install);
    }
    catch (const std::bad_alloc&)
    {
        // Out of memory in a copy: the temporaries still go.
    }
    if (r.joinedBoth)
        diag ("18 cleanup temporary caches");
    eraseFoundryTemporaryCaches (engine);
    if (r.joinedBoth)
        diag ("19 playCachedFoundryPreview EXIT");
    return code;
}

} // namespace quorvalen::foundry
