#pragma once
// The one table of the rack's numeric parameters: JSON key, range, default and
// automation lane. The record takes its defaults from here, the parser its keys and
// ranges, and the modules' lane reads their lane and mapping.

namespace quorvalen
{

inline constexpr int rackAutomationLaneCount = 26;

// Automation lane numbers; each lane drives the parameter of the same name.
namespace rackLane
{
inline constexpr int none = -1;
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

struct RackParameter
{
    const char* key; // JSON key of the value and of its lane
    float lo, hi;    // the parser clamps into this range; a lane maps onto it
    float defaultValue;
    int lane;         // rackLane::none when it cannot be automated
    bool logarithmic; // the lane maps geometrically
};

namespace rackParameter
{
// Heat.
inline constexpr RackParameter heatDrive { "heatDrive", 0.0f, 100.0f, 25.0f, rackLane::heatDrive, false };
inline constexpr RackParameter heatMix { "heatMix", 0.0f, 100.0f, 50.0f, rackLane::heatMix, false };
// Filter, de-esser and cepstral filter.
inline constexpr RackParameter filterCepsShift { "filterCepsShift",         -12.0f, 12.0f, 0.0f,
                                                 rackLane::filterCepsShift, false };
inline constexpr RackParameter filterCepsAmount { "filterCepsAmount",         0.0f, 100.0f, 0.0f,
                                                  rackLane::filterCepsAmount, false };
inline constexpr RackParameter filterCepsWarp {
    "filterCepsWarp", -100.0f, 100.0f, 0.0f, rackLane::filterCepsWarp, false
};
inline constexpr RackParameter filterFreq { "filterFreq", 0.0f, 100.0f, 50.0f, rackLane::filterFreq, false };
inline constexpr RackParameter filterRes { "filterRes", 0.0f, 100.0f, 20.0f, rackLane::filterRes, false };
inline constexpr RackParameter filterLfo { "filterLfo", 0.0f, 100.0f, 0.0f, rackLane::filterLfo, false };
inline constexpr RackParameter filterLfoRate { "filterLfoRate", 0.0f, 100.0f, 75.0f, rackLane::filterLfoRate, false };
inline constexpr RackParameter filterDrive { "filterDrive", 0.0f, 100.0f, 0.0f, rackLane::filterDrive, false };
inline constexpr RackParameter filterEnvAmount { "filterEnvAmount",         0.0f, 100.0f, 50.0f,
                                                 rackLane::filterEnvAmount, false };
inline constexpr RackParameter filterEnvDelay { "filterEnvDelay", 0.0f, 100.0f, 0.0f, rackLane::filterEnvDelay, false };
inline constexpr RackParameter filterEnvAttack { "filterEnvAttack",         0.0f, 100.0f, 10.0f,
                                                 rackLane::filterEnvAttack, false };
inline constexpr RackParameter filterEnvDecay {
    "filterEnvDecay", 0.0f, 100.0f, 25.0f, rackLane::filterEnvDecay, false
};
inline constexpr RackParameter filterEnvSustain { "filterEnvSustain",         0.0f, 100.0f, 50.0f,
                                                  rackLane::filterEnvSustain, false };
inline constexpr RackParameter filterEnvRelease { "filterEnvRelease", 0.0f, 100.0f, 20.0f, rackLane::none, false };
inline constexpr RackParameter bpm { "bpm", 20.0f, 400.0f, 172.0f, rackLane::none, false };
// Transient.
inline constexpr RackParameter transientAttack { "transientAttack",         -10.0f, 10.0f, 0.0f,
                                                 rackLane::transientAttack, false };
inline constexpr RackParameter transientSustain { "transientSustain",         -10.0f, 10.0f, 0.0f,
                                                  rackLane::transientSustain, false };
// Frequency shift (semitones; the mix is milliseconds of dry lead-in) and drone.
inline constexpr RackParameter freqShift { "freqShift", -12.0f, 12.0f, 0.0f, rackLane::freqShift, false };
inline constexpr RackParameter freqShiftMix { "freqShiftMix", 0.0f, 50.0f, 9.0f, rackLane::freqShiftMix, false };
inline constexpr RackParameter droneStretch { "droneStretch", 2.0f, 20.0f, 2.0f, rackLane::none, false }; // time ratio
inline constexpr RackParameter dronePitch { "dronePitch", -12.0f, 12.0f, 0.0f, rackLane::dronePitch, false };
// Spectral delay.
inline constexpr RackParameter spectralDelayTime { "spectralDelayTime",         0.0f, 100.0f, 25.0f,
                                                   rackLane::spectralDelayTime, false };
inline constexpr RackParameter spectralDelayMix { "spectralDelayMix",         0.0f, 100.0f, 60.0f,
                                                  rackLane::spectralDelayMix, false };
// Space.
inline constexpr RackParameter spaceSize { "spaceSize", 0.0f, 100.0f, 70.0f, rackLane::spaceSize, false };
inline constexpr RackParameter spaceWet { "spaceWet", 0.0f, 100.0f, 70.0f, rackLane::spaceWet, false };
// Stereo (the crossover in Hz).
inline constexpr RackParameter stereoWidth { "stereoWidth", -10.0f, 10.0f, 0.0f, rackLane::stereoWidth, false };
inline constexpr RackParameter stereoCrossover { "stereoCrossover",         20.0f, 20000.0f, 500.0f,
                                                 rackLane::stereoCrossover, true };
} // namespace rackParameter

} // namespace quorvalen
