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
    float& (*field) (QuorvalenRackSettings&);
};

template <auto group, auto member>
float& numberField (QuorvalenRackSettings& s)
{
    return (s.*group).*member;
}

const NumberField numberFields[] = {
    { rackParameter::heatDrive, &numberField<&QuorvalenRackSettings::heat, &HeatSettings::drive> },
    { rackParameter::heatMix, &numberField<&QuorvalenRackSettings::heat, &HeatSettings::mix> },
    { rackParameter::filterCepsShift, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::cepsShift> },
    { rackParameter::filterCepsAmount, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::cepsAmount> },
    { rackParameter::filterCepsWarp, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::cepsWarp> },
    { rackParameter::filterFreq, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::freq> },
    { rackParameter::filterRes, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::res> },
    { rackParameter::filterLfo, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::lfo> },
    { rackParameter::filterLfoRate, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::lfoRate> },
    { rackParameter::filterDrive, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::drive> },
    { rackParameter::filterEnvAmount, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::envAmount> },
    { rackParameter::filterEnvDelay, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::envDelay> },
    { rackParameter::filterEnvAttack, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::envAttack> },
    { rackParameter::filterEnvDecay, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::envDecay> },
    { rackParameter::filterEnvSustain, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::envSustain> },
    { rackParameter::filterEnvRelease, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::envRelease> },
    { rackParameter::bpm, &numberField<&QuorvalenRackSettings::filter, &FilterSettings::bpm> },
    { rackParameter::transientAttack, &numberField<&QuorvalenRackSettings::transient, &TransientSettings::attack> },
    { rackParameter::transientSustain, &numberField<&QuorvalenRackSettings::transient, &TransientSettings::sustain> },
    { rackParameter::freqShift, &numberField<&QuorvalenRackSettings::freqShift, &FreqShiftSettings::semitones> },
    { rackParameter::freqShiftMix, &numberField<&QuorvalenRackSettings::freqShift, &FreqShiftSettings::mixMs> },
    { rackParameter::droneStretch, &numberField<&QuorvalenRackSettings::freqShift, &FreqShiftSettings::droneStretch> },
    { rackParameter::dronePitch, &numberField<&QuorvalenRackSettings::freqShift, &FreqShiftSettings::dronePitch> },
    { rackParameter::spectralDelayTime,
      &numberField<&QuorvalenRackSettings::spectralDelay, &SpectralDelaySettings::time> },
    { rackParameter::spectralDelayMix,
      &numberField<&QuorvalenRackSettings::spectralDelay, &SpectralDelaySettings::mix> },
    { rackParameter::spaceSize, &numberField<&QuorvalenRackSettings::space, &SpaceSettings::size> },
    { rackParameter::spaceWet, &numberField<&QuorvalenRackSettings::space, &SpaceSettings::wet> },
    { rackParameter::stereoWidth, &numberField<&QuorvalenRackSettings::stereo, &StereoSettings::width> },
    { rackParameter::stereoCrossover, &numberField<&QuorvalenRackSettings::stereo, &StereoSettings::crossover> },
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

    in.readBool ("heatEnabled", s.heat.enabled);
    in.readEnum ("heatMode", s.heat.mode,
                 { { "tube", HeatMode::tube },
                   { "warm", HeatMode::warm },
                   { "console", HeatMode::console },
                   { "broken", HeatMode::broken } });

    in.readBool ("deEssEnabled", s.filter.enabled);
    in.readEnum ("filterMode", s.filter.mode,
                 { { "HP", FilterMode::hp },
                   { "BP", FilterMode::bp },
                   { "N", FilterMode::notch },
                   { "RES", FilterMode::res },
                   { "CEPS", FilterMode::ceps } });
    in.readBool ("filterCepsEnvTargetAmount", s.filter.cepsEnvTargetAmount);
    in.readBool ("filterCepsEnvTargetShift", s.filter.cepsEnvTargetShift);
    in.readBool ("filterCepsEnvTargetWarp", s.filter.cepsEnvTargetWarp);
    in.readBool ("filterLfoSync", s.filter.lfoSync);
    in.readEnum (
        "filterLfoShape", s.filter.lfoShape,
        { { "TRI", LfoShape::tri }, { "SAW", LfoShape::saw }, { "SQR", LfoShape::sqr }, { "RND", LfoShape::rnd } });
    in.readEnum ("filterLfoTiming", s.filter.lfoTiming,
                 { { "DOT", LfoTiming::dotted }, { "TRI", LfoTiming::triplet } });
    in.readBool ("filterDirtboxEnabled", s.filter.dirtboxEnabled);
    in.readBool ("filterEnvEnabled", s.filter.envEnabled);
    in.readBool ("filterEnvInvert", s.filter.envInvert);
    in.readBool ("filterEnvTargetFreq", s.filter.envTargetFreq);
    in.readBool ("filterEnvTargetLfo", s.filter.envTargetLfo);
    in.readBool ("filterEnvTargetDrive", s.filter.envTargetDrive);

    in.readBool ("transientEnabled", s.transient.enabled);

    in.readBool ("freqShiftEnabled", s.freqShift.enabled);
    in.readEnum ("freqShiftMode", s.freqShift.mode,
                 { { "ambi", FreqShiftMode::ambi }, { "synth", FreqShiftMode::synth } });
    in.readBool ("pitchAdvancedOpen", s.freqShift.pitchAdvancedOpen);

    in.readBool ("spectralDelayEnabled", s.spectralDelay.enabled);

    in.readBool ("spaceEnabled", s.space.enabled);
    readSpaceIrIndex (in, s.space.irIndex);
    in.readBool ("spectroNoTail", s.space.spectroNoTail);

    for (const auto& [parameter, field] : numberFields)
        in.readClamped (parameter.key, field (s), parameter.lo, parameter.hi);

    const auto automation = in.get ("automation");
    if (isJsonObject (automation))
        for (const auto& [parameter, field] : numberFields)
            if (parameter.lane != rackLane::none)
                parseAutomationLane (automation, s, parameter.key, parameter.lane);

    in.readBool ("stereoEnabled", s.stereo.enabled);
    in.readBool ("stereoWidthBelowCrossover", s.stereo.widthBelowCrossover);
    in.readBool ("stereoMono", s.stereo.mono);

    readChainOrder (in, s);
    readRackModules (in, s, nesting);
    return record;
}

} // namespace

int rackModuleIndex (const juce::String& name)
{
    static const char* const names[rackModuleCount] = { "heat",          "deess", "transient", "freqshift",
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
