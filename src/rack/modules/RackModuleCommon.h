#pragma once
// What every module header needs: the buffer type and the two records a module
// block function works on (state and settings), declared ahead.
#include <juce_audio_basics/juce_audio_basics.h>

namespace quorvalen
{

struct RackProcessingState;
struct QuorvalenRackSettings;

} // namespace quorvalen
