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

enum class HeatMode : std::int32_t { bleed = 0, tube = 1, warm = 2, console = 3, broken = 4 };
enum class FilterMode : std::int32_t { lp = 0, hp = 1, bp = 2, notch = 3, res = 4, ceps = 5 };
enum class LfoShape : std::int32_t { sine = 0, tri = 1, saw = 2, sqr = 3, rnd = 4 };
enum class LfoTiming : std::int32_t { straight = 0, dotted = 1, triplet = 2 };
enum class FreqShiftMode : std::int32_t { beat = 0, synth = 1, ambi = 2 };

struct QuorvalenRackSettings;

// One element of rackModules: a module and the complete record it runs with.
struct RackModuleEntry
{
    std::uint32_t module = 0;
    std::shared_ptr<const QuorvalenRackSettings> settings; // never null once parsed
};

struct QuorvalenRackSettings
{
    // Heat (module 0).
    bool heatEnabled = false;
    HeatMode heatMode = HeatMode::bleed;
    float heatDrive = rackParameter::heatDrive.defaultValue;
    float heatMix = rackParameter::heatMix.defaultValue;

    // Filter, de-esser and cepstral filter (module 1).
    bool deEssEnabled = false;
    FilterMode filterMode = FilterMode::lp;
    float filterCepsShift = rackParameter::filterCepsShift.defaultValue;
    float filterCepsAmount = rackParameter::filterCepsAmount.defaultValue;
    float filterCepsWarp = rackParameter::filterCepsWarp.defaultValue;
    bool filterCepsEnvTargetAmount = true;
    bool filterCepsEnvTargetShift = false;
    bool filterCepsEnvTargetWarp = false;
    float filterFreq = rackParameter::filterFreq.defaultValue;
    float filterRes = rackParameter::filterRes.defaultValue;
    float filterLfo = rackParameter::filterLfo.defaultValue;
    float filterLfoRate = rackParameter::filterLfoRate.defaultValue;
    bool filterLfoSync = true;
    LfoShape filterLfoShape = LfoShape::tri;
    LfoTiming filterLfoTiming = LfoTiming::dotted;
    float filterDrive = rackParameter::filterDrive.defaultValue;
    bool filterDirtboxEnabled = false;
    bool filterEnvEnabled = false;
    float filterEnvAmount = rackParameter::filterEnvAmount.defaultValue;
    float filterEnvDelay = rackParameter::filterEnvDelay.defaultValue;
    float filterEnvAttack = rackParameter::filterEnvAttack.defaultValue;
    float filterEnvDecay = rackParameter::filterEnvDecay.defaultValue;
    float filterEnvSustain = rackParameter::filterEnvSustain.defaultValue;
    float filterEnvRelease = rackParameter::filterEnvRelease.defaultValue;
    bool filterEnvInvert = false;
    bool filterEnvTargetFreq = true;
    bool filterEnvTargetLfo = false;
    bool filterEnvTargetDrive = false;
    float bpm = rackParameter::bpm.defaultValue;

    // Transient (module 2).
    bool transientEnabled = false;
    float transientAttack = rackParameter::transientAttack.defaultValue;
    float transientSustain = rackParameter::transientSustain.defaultValue;

    // Frequency shift and drone (module 3).
    bool freqShiftEnabled = false;
    FreqShiftMode freqShiftMode = FreqShiftMode::beat;
    float freqShift = rackParameter::freqShift.defaultValue;     // semitones
    float freqShiftMix = rackParameter::freqShiftMix.defaultValue;  // milliseconds of dry lead-in
    bool pitchAdvancedOpen = false;
    float droneStretch = rackParameter::droneStretch.defaultValue;  // time ratio
    float dronePitch = rackParameter::dronePitch.defaultValue;    // semitones

    // Spectral delay (module 4).
    bool spectralDelayEnabled = false;
    float spectralDelayTime = rackParameter::spectralDelayTime.defaultValue;
    float spectralDelayMix = rackParameter::spectralDelayMix.defaultValue;

    // Space (module 5).
    bool spaceEnabled = false;
    float spaceSize = rackParameter::spaceSize.defaultValue;
    float spaceWet = rackParameter::spaceWet.defaultValue;
    std::int32_t spaceIrIndex = 0;
    bool spectroNoTail = false;

    std::array<AutomationLane, rackAutomationLaneCount> automation {};

    // Stereo (module 6).
    bool stereoEnabled = false;
    float stereoWidth = rackParameter::stereoWidth.defaultValue;
    float stereoCrossover = rackParameter::stereoCrossover.defaultValue; // Hz
    bool stereoWidthBelowCrossover = false;
    bool stereoMono = false;

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
