#pragma once
// The immutable record of every rack parameter. Built only by the default
// constructor and by parseRackSettings; shared by reference count between host
// threads, the audio thread and offline renders, and never written afterwards.
#include "foundry/FoundryAutomationLane.h"

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
inline constexpr int rackAutomationLaneCount = 26;
inline constexpr int rackMaxLanePoints = 1024;

// Automation lane numbers; each lane drives the field of the same name.
namespace rackLane
{
inline constexpr int heatDrive = 0;
inline constexpr int heatMix = 1;
inline constexpr int spaceSize = 2;
inline constexpr int spaceWet = 3;
inline constexpr int filterFreq = 4;
inline constexpr int filterRes = 5;
inline constexpr int filterLfo = 6;
inline constexpr int filterLfoRate = 7;
inline constexpr int filterDrive = 8;
inline constexpr int filterEnvDelay = 9;
inline constexpr int filterEnvAttack = 10;
inline constexpr int filterEnvDecay = 11;
inline constexpr int filterEnvSustain = 12;
inline constexpr int filterEnvAmount = 13;
inline constexpr int stereoWidth = 14;
inline constexpr int stereoCrossover = 15; // geometric: 20 x 1000^y Hz
inline constexpr int transientAttack = 16;
inline constexpr int transientSustain = 17;
inline constexpr int freqShift = 18;
inline constexpr int freqShiftMix = 19;
inline constexpr int dronePitch = 20;
inline constexpr int spectralDelayTime = 21;
inline constexpr int spectralDelayMix = 22;
inline constexpr int filterCepsShift = 23;
inline constexpr int filterCepsAmount = 24;
inline constexpr int filterCepsWarp = 25;
} // namespace rackLane

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
    std::int32_t heatMode = 0;
    float heatDrive = 25.0f;
    float heatMix = 50.0f;

    // Filter, de-esser and cepstral filter (module 1).
    bool deEssEnabled = false;
    std::int32_t filterMode = 0;
    float filterCepsShift = 0.0f;
    float filterCepsAmount = 0.0f;
    float filterCepsWarp = 0.0f;
    bool filterCepsEnvTargetAmount = true;
    bool filterCepsEnvTargetShift = false;
    bool filterCepsEnvTargetWarp = false;
    float filterFreq = 50.0f;
    float filterRes = 20.0f;
    float filterLfo = 0.0f;
    float filterLfoRate = 75.0f;
    bool filterLfoSync = true;
    std::int32_t filterLfoShape = 1;
    std::int32_t filterLfoTiming = 1;
    float filterDrive = 0.0f;
    bool filterDirtboxEnabled = false;
    bool filterEnvEnabled = false;
    float filterEnvAmount = 50.0f;
    float filterEnvDelay = 0.0f;
    float filterEnvAttack = 10.0f;
    float filterEnvDecay = 25.0f;
    float filterEnvSustain = 50.0f;
    float filterEnvRelease = 20.0f;
    bool filterEnvInvert = false;
    bool filterEnvTargetFreq = true;
    bool filterEnvTargetLfo = false;
    bool filterEnvTargetDrive = false;
    float bpm = 172.0f;

    // Transient (module 2).
    bool transientEnabled = false;
    float transientAttack = 0.0f;
    float transientSustain = 0.0f;

    // Frequency shift and drone (module 3).
    bool freqShiftEnabled = false;
    std::int32_t freqShiftMode = 0;
    float freqShift = 0.0f;     // semitones
    float freqShiftMix = 9.0f;  // milliseconds of dry lead-in
    bool pitchAdvancedOpen = false;
    float droneStretch = 2.0f;  // time ratio
    float dronePitch = 0.0f;    // semitones

    // Spectral delay (module 4).
    bool spectralDelayEnabled = false;
    float spectralDelayTime = 25.0f;
    float spectralDelayMix = 60.0f;

    // Space (module 5).
    bool spaceEnabled = false;
    float spaceSize = 70.0f;
    float spaceWet = 70.0f;
    std::int32_t spaceIrIndex = 0;
    bool spectroNoTail = false;

    std::array<FoundryAutomationLane, rackAutomationLaneCount> automation {};

    // Stereo (module 6).
    bool stereoEnabled = false;
    float stereoWidth = 0.0f;
    float stereoCrossover = 500.0f; // Hz
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
