#pragma once
// The immutable record of every rack parameter. Built only by the default
// constructor and by parseRackSettings; shared by reference count between host
// threads, the audio thread and offline renders, and never written afterwards.
#include "core/AutomationLane.h"
#include "rack/RackParameters.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen
{

// The rack's number for each module: chainOrder, rackModules and the block path use it.
enum RackModuleIndex : int
{
    rackModuleHeat = 0,
    rackModuleFilter = 1,
    rackModuleTransient = 2,
    rackModuleFreqShift = 3,
    rackModuleSpectralDelay = 4,
    rackModuleSpace = 5,
    rackModuleStereo = 6,
};

inline constexpr int rackModuleCount = 7;
inline constexpr int rackMaxModuleEntries = 24;
inline constexpr int rackMaxLanePoints = 1024;

enum class HeatMode : std::int32_t
{
    bleed = 0,
    tube = 1,
    warm = 2,
    console = 3,
    broken = 4
};
enum class FilterMode : std::int32_t
{
    lp = 0,
    hp = 1,
    bp = 2,
    notch = 3,
    res = 4,
    ceps = 5
};
enum class LfoShape : std::int32_t
{
    sine = 0,
    tri = 1,
    saw = 2,
    sqr = 3,
    rnd = 4
};
enum class LfoTiming : std::int32_t
{
    straight = 0,
    dotted = 1,
    triplet = 2
};
enum class FreqShiftMode : std::int32_t
{
    beat = 0,
    synth = 1,
    ambi = 2
};

struct QuorvalenRackSettings;

// One element of rackModules: a module and the complete record it runs with.
struct RackModuleEntry
{
    std::uint32_t module = 0;
    std::shared_ptr<const QuorvalenRackSettings> settings; // never null once parsed
};

// Module 0.
struct HeatSettings
{
    bool enabled = false;
    HeatMode mode = HeatMode::bleed;
    float drive = rackParameter::heatDrive.defaultValue;
    float mix = rackParameter::heatMix.defaultValue;
};

// Module 1: the state-variable filter (de-esser) and the cepstral filter.
struct FilterSettings
{
    bool enabled = false; // "deEssEnabled"
    FilterMode mode = FilterMode::lp;
    float cepsShift = rackParameter::filterCepsShift.defaultValue;
    float cepsAmount = rackParameter::filterCepsAmount.defaultValue;
    float cepsWarp = rackParameter::filterCepsWarp.defaultValue;
    bool cepsEnvTargetAmount = true;
    bool cepsEnvTargetShift = false;
    bool cepsEnvTargetWarp = false;
    float freq = rackParameter::filterFreq.defaultValue;
    float res = rackParameter::filterRes.defaultValue;
    float lfo = rackParameter::filterLfo.defaultValue;
    float lfoRate = rackParameter::filterLfoRate.defaultValue;
    bool lfoSync = true;
    LfoShape lfoShape = LfoShape::tri;
    LfoTiming lfoTiming = LfoTiming::dotted;
    float drive = rackParameter::filterDrive.defaultValue;
    bool dirtboxEnabled = false;
    bool envEnabled = false;
    float envAmount = rackParameter::filterEnvAmount.defaultValue;
    float envDelay = rackParameter::filterEnvDelay.defaultValue;
    float envAttack = rackParameter::filterEnvAttack.defaultValue;
    float envDecay = rackParameter::filterEnvDecay.defaultValue;
    float envSustain = rackParameter::filterEnvSustain.defaultValue;
    float envRelease = rackParameter::filterEnvRelease.defaultValue;
    bool envInvert = false;
    bool envTargetFreq = true;
    bool envTargetLfo = false;
    bool envTargetDrive = false;
    float bpm = rackParameter::bpm.defaultValue;
};

// Module 2.
struct TransientSettings
{
    bool enabled = false;
    float attack = rackParameter::transientAttack.defaultValue;
    float sustain = rackParameter::transientSustain.defaultValue;
};

// Module 3: the live shifter, and the drone of the advanced pitch panel (offline).
struct FreqShiftSettings
{
    bool enabled = false;
    FreqShiftMode mode = FreqShiftMode::beat;
    float semitones = rackParameter::freqShift.defaultValue; // "freqShift"
    float mixMs = rackParameter::freqShiftMix.defaultValue;  // "freqShiftMix": dry lead-in
    bool pitchAdvancedOpen = false;
    float droneStretch = rackParameter::droneStretch.defaultValue; // time ratio
    float dronePitch = rackParameter::dronePitch.defaultValue;     // semitones
};

// Module 4.
struct SpectralDelaySettings
{
    bool enabled = false;
    float time = rackParameter::spectralDelayTime.defaultValue;
    float mix = rackParameter::spectralDelayMix.defaultValue;
};

// Module 5.
struct SpaceSettings
{
    bool enabled = false;
    float size = rackParameter::spaceSize.defaultValue;
    float wet = rackParameter::spaceWet.defaultValue;
    std::int32_t irIndex = 0; // "spaceIrIndex"
    bool spectroNoTail = false;
};

// Module 6.
struct StereoSettings
{
    bool enabled = false;
    float width = rackParameter::stereoWidth.defaultValue;
    float crossover = rackParameter::stereoCrossover.defaultValue; // Hz
    bool widthBelowCrossover = false;
    bool mono = false;
};

struct QuorvalenRackSettings
{
    HeatSettings heat;
    FilterSettings filter;
    TransientSettings transient;
    FreqShiftSettings freqShift;
    SpectralDelaySettings spectralDelay;
    SpaceSettings space;
    StereoSettings stereo;

    std::array<AutomationLane, rackAutomationLaneCount> automation {};
    std::array<std::int32_t, rackModuleCount> chainOrder { 0, 1, 2, 3, 4, 5, 6 };
    std::vector<RackModuleEntry> rackModules;
};

// 0..6 for an exact (case-sensitive) module name, -1 otherwise.
int rackModuleIndex (const juce::String& name);

// The text parsed as JSON (void for null text, a parse error, or nesting too deep
// to parse safely).
juce::var parseRackJson (const char* jsonUtf8);

// A new record, or null when the text is null or is not a JSON object. Pure.
std::shared_ptr<QuorvalenRackSettings> parseRackSettings (const char* jsonUtf8);

// Fills one lane of `settings` from the array under `key` of the automation object.
void parseAutomationLane (const juce::var& automation, QuorvalenRackSettings& settings, const char* key, int lane);

} // namespace quorvalen
