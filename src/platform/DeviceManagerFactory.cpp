#include "platform/DeviceManagerFactory.h"

#include "platform/HeadlessAudioDevice.h"
#include "platform/HeadlessConfig.h"

namespace quorvalen::platform
{
namespace
{
class QuorvalenDeviceManager final : public juce::AudioDeviceManager
{
public:
    void createAudioDeviceTypes (juce::OwnedArray<juce::AudioIODeviceType>& types) override
    {
        if (platformDeviceTypesEnabled())
            juce::AudioDeviceManager::createAudioDeviceTypes (types);
        types.add (createHeadlessDeviceType());
    }
};
} // namespace

std::unique_ptr<juce::AudioDeviceManager> createDeviceManager()
{
    return std::make_unique<QuorvalenDeviceManager>();
}

juce::String checkOpenedOutput (juce::AudioDeviceManager& manager, const juce::String& reportedError)
{
    if (reportedError.isNotEmpty())
        return reportedError;
    auto* device = manager.getCurrentAudioDevice();
    if (device == nullptr || ! device->isOpen() || device->getActiveOutputChannels().isZero())
        return "No active output device was opened";
    return {};
}

} // namespace quorvalen::platform
