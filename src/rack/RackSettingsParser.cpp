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

// Every numeric parameter of the table and the record field it fills.
struct NumberField
{
    const RackParameter& parameter;
    float QuorvalenRackSettings::* field;
};

const NumberField numberFields[] = {
    { rackParameter::heatDrive, &QuorvalenRackSettings::heatDrive },
    { rackParameter::heatMix, &QuorvalenRackSettings::heatMix },
    { rackParameter::filterCepsShift, &QuorvalenRackSettings::filterCepsShift },
    { rackParameter::filterCepsAmount, &QuorvalenRackSettings::filterCepsAmount },
    { rackParameter::filterCepsWarp, &QuorvalenRackSettings::filterCepsWarp },
    { rackParameter::filterFreq, &QuorvalenRackSettings::filterFreq },
    { rackParameter::filterRes, &QuorvalenRackSettings::filterRes },
    { rackParameter::filterLfo, &QuorvalenRackSettings::filterLfo },
    { rackParameter::filterLfoRate, &QuorvalenRackSettings::filterLfoRate },
    { rackParameter::filterDrive, &QuorvalenRackSettings::filterDrive },
    { rackParameter::filterEnvAmount, &QuorvalenRackSettings::filterEnvAmount },
    { rackParameter::filterEnvDelay, &QuorvalenRackSettings::filterEnvDelay },
    { rackParameter::filterEnvAttack, &QuorvalenRackSettings::filterEnvAttack },
    { rackParameter::filterEnvDecay, &QuorvalenRackSettings::filterEnvDecay },
    { rackParameter::filterEnvSustain, &QuorvalenRackSettings::filterEnvSustain },
    { rackParameter::filterEnvRelease, &QuorvalenRackSettings::filterEnvRelease },
    { rackParameter::bpm, &QuorvalenRackSettings::bpm },
    { rackParameter::transientAttack, &QuorvalenRackSettings::transientAttack },
    { rackParameter::transientSustain, &QuorvalenRackSettings::transientSustain },
    { rackParameter::freqShift, &QuorvalenRackSettings::freqShift },
    { rackParameter::freqShiftMix, &QuorvalenRackSettings::freqShiftMix },
    { rackParameter::droneStretch, &QuorvalenRackSettings::droneStretch },
    { rackParameter::dronePitch, &QuorvalenRackSettings::dronePitch },
    { rackParameter::spectralDelayTime, &QuorvalenRackSettings::spectralDelayTime },
    { rackParameter::spectralDelayMix, &QuorvalenRackSettings::spectralDelayMix },
    { rackParameter::spaceSize, &QuorvalenRackSettings::spaceSize },
    { rackParameter::spaceWet, &QuorvalenRackSettings::spaceWet },
    { rackParameter::stereoWidth, &QuorvalenRackSettings::stereoWidth },
    { rackParameter::stereoCrossover, &QuorvalenRackSettings::stereoCrossover },
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
    in.readEnum ("heatMode", s.heatMode,
                { { "tube", HeatMode::tube }, { "warm", HeatMode::warm }, { "console", HeatMode::console },
                  { "broken", HeatMode::broken } });

    in.readBool ("deEssEnabled", s.deEssEnabled);
    in.readEnum ("filterMode", s.filterMode,
                { { "HP", FilterMode::hp }, { "BP", FilterMode::bp }, { "N", FilterMode::notch },
                  { "RES", FilterMode::res }, { "CEPS", FilterMode::ceps } });
    in.readBool ("filterCepsEnvTargetAmount", s.filterCepsEnvTargetAmount);
    in.readBool ("filterCepsEnvTargetShift", s.filterCepsEnvTargetShift);
    in.readBool ("filterCepsEnvTargetWarp", s.filterCepsEnvTargetWarp);
    in.readBool ("filterLfoSync", s.filterLfoSync);
    in.readEnum ("filterLfoShape", s.filterLfoShape,
                { { "TRI", LfoShape::tri }, { "SAW", LfoShape::saw }, { "SQR", LfoShape::sqr }, { "RND", LfoShape::rnd } });
    in.readEnum ("filterLfoTiming", s.filterLfoTiming, { { "DOT", LfoTiming::dotted }, { "TRI", LfoTiming::triplet } });
    in.readBool ("filterDirtboxEnabled", s.filterDirtboxEnabled);
    in.readBool ("filterEnvEnabled", s.filterEnvEnabled);
    in.readBool ("filterEnvInvert", s.filterEnvInvert);
    in.readBool ("filterEnvTargetFreq", s.filterEnvTargetFreq);
    in.readBool ("filterEnvTargetLfo", s.filterEnvTargetLfo);
    in.readBool ("filterEnvTargetDrive", s.filterEnvTargetDrive);

    in.readBool ("transientEnabled", s.transientEnabled);

    in.readBool ("freqShiftEnabled", s.freqShiftEnabled);
    in.readEnum ("freqShiftMode", s.freqShiftMode, { { "ambi", FreqShiftMode::ambi }, { "synth", FreqShiftMode::synth } });
    in.readBool ("pitchAdvancedOpen", s.pitchAdvancedOpen);

    in.readBool ("spectralDelayEnabled", s.spectralDelayEnabled);

    in.readBool ("spaceEnabled", s.spaceEnabled);
    readSpaceIrIndex (in, s.spaceIrIndex);
    in.readBool ("spectroNoTail", s.spectroNoTail);

    for (const auto& [parameter, field] : numberFields)
        in.readClamped (parameter.key, s.*field, parameter.lo, parameter.hi);

    const auto automation = in.get ("automation");
    if (isJsonObject (automation))
        for (const auto& [parameter, field] : numberFields)
            if (parameter.lane != rackLane::none)
                parseAutomationLane (automation, s, parameter.key, parameter.lane);

    in.readBool ("stereoEnabled", s.stereoEnabled);
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
