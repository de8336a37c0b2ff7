#pragma once
// Playback of cached entries and files through the chain, the stop fade, the
// Foundry main-preview setters and playback telemetry.
#include "chain/EngineMemorySource.h"

#include <cstdint>
#include <memory>

namespace quorvalen
{

class QuorvalenEngine;

int playCached (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent);
int playWavFile (QuorvalenEngine& engine, const char* path);
int stopWithFade (QuorvalenEngine& engine);
int setMainPreviewLooping (QuorvalenEngine& engine, bool looping);
int setMainPreviewPitch (QuorvalenEngine& engine, float semitones);
int getPlaybackTelemetry (QuorvalenEngine& engine, double* position, double* length, std::uint32_t* playing);

// 2^(clamp(semitones, -24, 24) / 12); a non-finite value counts as 0 semitones.
double pitchRatio (float semitones);

// The current output device's sample rate when it has a usable one, else `fallback`.
// Caller holds engineMutex.
double outputDeviceRate (QuorvalenEngine& engine, double fallback);

// Attaches `source` to the transport (read-ahead 0, no thread, at most 2 channels).
// Caller holds engineMutex and has detached the previous playback.
void attachCurrentSource (QuorvalenEngine& engine, std::unique_ptr<EngineMemorySource> source, double sourceRate);

} // namespace quorvalen
