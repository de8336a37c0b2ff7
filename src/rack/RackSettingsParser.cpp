// The rack settings document: one JSON object of optional, clamped parameters,
// automation lanes, a module order and nested module entries.
#include "rack/QuorvalenRackSettings.h"

#include "core/JsonFields.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace quorvalen
{
namespace
{

// The rack runs entries of the top level only, and a top-level entry's own list
// decides only whether it prepares anything; deeper levels are kept for fidelity
// but would otherwise let a hostile document recurse without bound.
constexpr int maxModuleNesting = 8;

// A document nested deeper than any settings document could be is refused before
// the parser can exhaust the stack.
constexpr int maxJsonNesting = 256;

using FieldReader = JsonFieldReader;

struct LaneKey
{
    const char* key;
    int lane;
};

constexpr LaneKey laneKeys[rackAutomationLaneCount] = {
    { "heatDrive", rackLane::heatDrive },
    { "heatMix", rackLane::heatMix },
    { "spaceSize", rackLane::spaceSize },
    { "spaceWet", rackLane::spaceWet },
    { "filterFreq", rackLane::filterFreq },
    { "filterRes", rackLane::filterRes },
    { "filterLfo", rackLane::filterLfo },
    { "filterLfoRate", rackLane::filterLfoRate },
    { "filterDrive", rackLane::filterDrive },
    { "filterEnvDelay", rackLane::filterEnvDelay },
    { "filterEnvAttack", rackLane::filterEnvAttack },
    { "filterEnvDecay", rackLane::filterEnvDecay },
    { "filterEnvSustain", rackLane::filterEnvSustain },
    { "filterEnvAmount", rackLane::filterEnvAmount },
    { "stereoWidth", rackLane::stereoWidth },
    { "stereoCrossover", rackLane::stereoCrossover },
    { "transientAttack", rackLane::transientAttack },
    { "transientSustain", rackLane::transientSustain },
    { "freqShift", rackLane::freqShift },
    { "freqShiftMix", rackLane::freqShiftMix },
    { "dronePitch", rackLane::dronePitch },
    { "spectralDelayTime", rackLane::spectralDelayTime },
    { "spectralDelayMix", rackLane::spectralDelayMix },
    { "filterCepsShift", rackLane::filterCepsShift },
    { "filterCepsAmount", rackLane::filterCepsAmount },
    { "filterCepsWarp", rackLane::filterCepsWarp },
};

void readSpaceIrIndex (const FieldReader& in, std::int32_t& field)
{
    if (! in.has ("spaceIrIndex"))
        return;
    // Read as a float like every other number, then truncated toward zero; anything
    // that is not a finite value inside the 32-bit range means the first response.
    const float x = (float) std::clamp (jsonNumber (in.get ("spaceIrIndex")), -1.0e30, 1.0e30);
    if (! std::isfinite (x) || x <= -2147483648.0f || x >= 2147483648.0f)
    {
        field = 0;
        return;
    }
    field = std::max<std::int32_t> (0, (std::int32_t) std::trunc (x));
}

void readChainOrder (const FieldReader& in, QuorvalenRackSettings& s)
{
    const auto value = in.get ("chainOrder");
    const auto* array = value.getArray();
    if (array == nullptr)
        return;

    bool seen[rackModuleCount] {};
    int written = 0;
    for (const auto& element : *array)
    {
        const int index = rackModuleIndex (element.toString());
        if (index >= 0 && ! seen[index])
        {
            seen[index] = true;
            s.chainOrder[(size_t) written++] = index;
        }
    }
    for (int index = 0; index < rackModuleCount && written < rackModuleCount; ++index)
        if (! seen[index])
            s.chainOrder[(size_t) written++] = index;
}

std::shared_ptr<QuorvalenRackSettings> parseDocument (const juce::var& document, int nesting);

void readRackModules (const FieldReader& in, QuorvalenRackSettings& s, int nesting)
{
    const auto value = in.get ("rackModules");
    const auto* array = value.getArray();
    if (array == nullptr || nesting >= maxModuleNesting)
        return;

    s.rackModules.reserve (rackMaxModuleEntries);
    for (const auto& element : *array)
    {
        if ((int) s.rackModules.size() >= rackMaxModuleEntries)
            break;
        if (! isJsonObject (element))
            continue;
        const int module = rackModuleIndex (element.getProperty ("effect", {}).toString());
        if (module < 0)
            continue;
        const auto nested = element.getProperty ("settings", {});
        if (! isJsonObject (nested))
            continue;
        // Each entry is a complete record from the defaults, not from the enclosing values.
        if (auto record = parseDocument (nested, nesting + 1))
            s.rackModules.push_back ({ (std::uint32_t) module, std::move (record) });
    }
}

std::shared_ptr<QuorvalenRackSettings> parseDocument (const juce::var& document, int nesting)
{
    if (! isJsonObject (document))
        return nullptr;

    auto record = std::make_shared<QuorvalenRackSettings>();
    auto& s = *record;
    const FieldReader in (document);

    in.readBool ("heatEnabled", s.heatEnabled);
    in.readEnum<std::int32_t> ("heatMode", s.heatMode, { { "tube", 1 }, { "warm", 2 }, { "console", 3 }, { "broken", 4 } });
    in.readClamped ("heatDrive", s.heatDrive, 0.0f, 100.0f);
    in.readClamped ("heatMix", s.heatMix, 0.0f, 100.0f);

    in.readBool ("deEssEnabled", s.deEssEnabled);
    in.readEnum<std::int32_t> ("filterMode", s.filterMode, { { "HP", 1 }, { "BP", 2 }, { "N", 3 }, { "RES", 4 }, { "CEPS", 5 } });
    in.readClamped ("filterCepsShift", s.filterCepsShift, -12.0f, 12.0f);
    in.readClamped ("filterCepsAmount", s.filterCepsAmount, 0.0f, 100.0f);
    in.readClamped ("filterCepsWarp", s.filterCepsWarp, -100.0f, 100.0f);
    in.readBool ("filterCepsEnvTargetAmount", s.filterCepsEnvTargetAmount);
    in.readBool ("filterCepsEnvTargetShift", s.filterCepsEnvTargetShift);
    in.readBool ("filterCepsEnvTargetWarp", s.filterCepsEnvTargetWarp);
    in.readClamped ("filterFreq", s.filterFreq, 0.0f, 100.0f);
    in.readClamped ("filterRes", s.filterRes, 0.0f, 100.0f);
    in.readClamped ("filterLfo", s.filterLfo, 0.0f, 100.0f);
    in.readClamped ("filterLfoRate", s.filterLfoRate, 0.0f, 100.0f);
    in.readBool ("filterLfoSync", s.filterLfoSync);
    in.readEnum<std::int32_t> ("filterLfoShape", s.filterLfoShape, { { "TRI", 1 }, { "SAW", 2 }, { "SQR", 3 }, { "RND", 4 } });
    in.readEnum<std::int32_t> ("filterLfoTiming", s.filterLfoTiming, { { "DOT", 1 }, { "TRI", 2 } });
    in.readClamped ("filterDrive", s.filterDrive, 0.0f, 100.0f);
    in.readBool ("filterDirtboxEnabled", s.filterDirtboxEnabled);
    in.readBool ("filterEnvEnabled", s.filterEnvEnabled);
    in.readClamped ("filterEnvAmount", s.filterEnvAmount, 0.0f, 100.0f);
    in.readClamped ("filterEnvDelay", s.filterEnvDelay, 0.0f, 100.0f);
    in.readClamped ("filterEnvAttack", s.filterEnvAttack, 0.0f, 100.0f);
    in.readClamped ("filterEnvDecay", s.filterEnvDecay, 0.0f, 100.0f);
    in.readClamped ("filterEnvSustain", s.filterEnvSustain, 0.0f, 100.0f);
    in.readClamped ("filterEnvRelease", s.filterEnvRelease, 0.0f, 100.0f);
    in.readBool ("filterEnvInvert", s.filterEnvInvert);
    in.readBool ("filterEnvTargetFreq", s.filterEnvTargetFreq);
    in.readBool ("filterEnvTargetLfo", s.filterEnvTargetLfo);
    in.readBool ("filterEnvTargetDrive", s.filterEnvTargetDrive);
    in.readClamped ("bpm", s.bpm, 20.0f, 400.0f);

    in.readBool ("transientEnabled", s.transientEnabled);
    in.readClamped ("transientAttack", s.transientAttack, -10.0f, 10.0f);
    in.readClamped ("transientSustain", s.transientSustain, -10.0f, 10.0f);

    in.readBool ("freqShiftEnabled", s.freqShiftEnabled);
    in.readEnum<std::int32_t> ("freqShiftMode", s.freqShiftMode, { { "ambi", 2 }, { "synth", 1 } });
    in.readClamped ("freqShift", s.freqShift, -12.0f, 12.0f);
    in.readClamped ("freqShiftMix", s.freqShiftMix, 0.0f, 50.0f);
    in.readBool ("pitchAdvancedOpen", s.pitchAdvancedOpen);
    in.readClamped ("droneStretch", s.droneStretch, 2.0f, 20.0f);
    in.readClamped ("dronePitch", s.dronePitch, -12.0f, 12.0f);

    in.readBool ("spectralDelayEnabled", s.spectralDelayEnabled);
    in.readClamped ("spectralDelayTime", s.spectralDelayTime, 0.0f, 100.0f);
    in.readClamped ("spectralDelayMix", s.spectralDelayMix, 0.0f, 100.0f);

    in.readBool ("spaceEnabled", s.spaceEnabled);
    in.readClamped ("spaceSize", s.spaceSize, 0.0f, 100.0f);
    in.readClamped ("spaceWet", s.spaceWet, 0.0f, 100.0f);
    readSpaceIrIndex (in, s.spaceIrIndex);
    in.readBool ("spectroNoTail", s.spectroNoTail);

    const auto automation = in.get ("automation");
    if (isJsonObject (automation))
        for (const auto& [key, lane] : laneKeys)
            parseAutomationLane (automation, s, key, lane);

    in.readBool ("stereoEnabled", s.stereoEnabled);
    in.readClamped ("stereoWidth", s.stereoWidth, -10.0f, 10.0f);
    in.readClamped ("stereoCrossover", s.stereoCrossover, 20.0f, 20000.0f);
    in.readBool ("stereoWidthBelowCrossover", s.stereoWidthBelowCrossover);
    in.readBool ("stereoMono", s.stereoMono);

    readChainOrder (in, s);
    readRackModules (in, s, nesting);
    return record;
}

} // namespace

int rackModuleIndex (const juce::String& name)
{
    static const char* const names[rackModuleCount] = { "heat", "deess", "transient", "freqshift",
                                                        "spectraldelay", "space", "stereo" };
    for (int i = 0; i < rackModuleCount; ++i)
        if (name == names[i])
            return i;
    return -1;
}

void parseAutomationLane (const juce::var& automation, QuorvalenRackSettings& settings, const char* key, int lane)
{
    if (lane < 0 || lane >= rackAutomationLaneCount)
        return;
    const auto value = automation.getProperty (juce::Identifier (key), {});
    const auto* array = value.getArray();
    if (array == nullptr)
        return;

    std::vector<float> xs, ys;
    const auto reserve = (size_t) std::min (array->size(), rackMaxLanePoints);
    xs.reserve (reserve);
    ys.reserve (reserve);
    for (const auto& element : *array)
    {
        if ((int) xs.size() >= rackMaxLanePoints)
            break;
        if (! isJsonObject (element))
            continue;
        const double x = jsonNumber (element.getProperty ("x", {}));
        const double y = jsonNumber (element.getProperty ("y", {}));
        // A point without a finite place or value cannot be ordered or interpolated.
        if (! std::isfinite (x) || ! std::isfinite (y))
            continue;
        xs.push_back ((float) std::clamp (x, 0.0, 1.0));
        ys.push_back ((float) std::clamp (y, 0.0, 1.0));
    }

    std::vector<size_t> order (xs.size());
    std::iota (order.begin(), order.end(), size_t { 0 });
    std::sort (order.begin(), order.end(), [&] (size_t a, size_t b) { return xs[a] < xs[b]; });

    auto& out = settings.automation[(size_t) lane];
    out.times.clear();
    out.values.clear();
    out.times.reserve (order.size());
    out.values.reserve (order.size());
    for (auto i : order)
    {
        out.times.push_back (xs[i]);
        out.values.push_back (ys[i]);
    }
}

juce::var parseRackJson (const char* jsonUtf8)
{
    return parseJsonGuarded (jsonUtf8, maxJsonNesting);
}

std::shared_ptr<QuorvalenRackSettings> parseRackSettings (const char* jsonUtf8)
{
    return parseDocument (parseRackJson (jsonUtf8), 0);
}

} // namespace quorvalen
