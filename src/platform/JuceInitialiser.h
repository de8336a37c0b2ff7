#pragma once
// The audio library counts its initialisers in a plain integer, so every one the
// library creates or destroys goes through one process-wide mutex.
#include <juce_events/juce_events.h>

#include <memory>

namespace quorvalen::platform
{

struct JuceInitialiserDeleter
{
    void operator() (juce::ScopedJuceInitialiser_GUI* initialiser) const;
};

using JuceInitialiserPtr = std::unique_ptr<juce::ScopedJuceInitialiser_GUI, JuceInitialiserDeleter>;

JuceInitialiserPtr makeJuceInitialiser();

} // namespace quorvalen::platform
