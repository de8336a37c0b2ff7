#include "platform/JuceInitialiser.h"

#include <mutex>

namespace quorvalen::platform
{
namespace
{
std::mutex& initialiserMutex()
{
    static std::mutex m;
    return m;
}
} // namespace

void JuceInitialiserDeleter::operator() (juce::ScopedJuceInitialiser_GUI* initialiser) const
{
    std::lock_guard lock (initialiserMutex());
    delete initialiser;
}

JuceInitialiserPtr makeJuceInitialiser()
{
    std::lock_guard lock (initialiserMutex());
    return JuceInitialiserPtr (new juce::ScopedJuceInitialiser_GUI());
}

} // namespace quorvalen::platform
