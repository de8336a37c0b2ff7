#pragma once
// Live audition level and character of the Foundry. For now a pass-through stage.
#include "engine/ChainStage.h"

namespace quorvalen
{

class FoundryAuditionCharacterSource final : public ChainStage
{
public:
    explicit FoundryAuditionCharacterSource (juce::AudioSource* input) : ChainStage (input) {}

private:
};

} // namespace quorvalen
