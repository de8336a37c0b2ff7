#include "engine/DeviceStartup.h"

#include "core/Log.h"
#include "platform/DeviceManagerFactory.h"

namespace quorvalen
{
namespace
{
struct RetryBackend
{
    const char* typeName;
    int requestedBuffer;
};

// Device types that do not exist on this platform are skipped without a word.
constexpr RetryBackend retryBackends[] = {
    { "Windows Audio", 1024 },
    { "Windows Audio (Low Latency Mode)", 0 },
    { "DirectSound", 0 },
};

juce::AudioIODeviceType* findType (juce::AudioDeviceManager& manager, const juce::String& name)
{
    for (auto* type : manager.getAvailableDeviceTypes())
        if (type->getTypeName() == name)
            return type;
    return nullptr;
}
} // namespace

void logEngineInitResult (juce::AudioDeviceManager& manager, const char* label, const juce::String& error)
{
    const auto setup = manager.getAudioDeviceSetup();
    logLine ("[ENGINE INIT] %s backend=\"%s\" output=\"%s\" rate=%.0f buffer=%d result=\"%s\"\n", label,
             manager.getCurrentAudioDeviceType().toRawUTF8(), setup.outputDeviceName.toRawUTF8(), setup.sampleRate,
             setup.bufferSize, error.toRawUTF8());
}

juce::String startOutputDevice (juce::AudioDeviceManager& manager)
{
    logLineNoFlush ("[ENGINE INIT] output startup v2\n");
    auto error = platform::checkOpenedOutput (manager, manager.initialiseWithDefaultDevices (0, 2));
    logEngineInitResult (manager, "default", error);
    if (error.isEmpty())
        return {};

    for (const auto& backend : retryBackends)
    {
        auto* type = findType (manager, backend.typeName);
        if (type == nullptr)
            continue;

        type->scanForDevices();
        const auto names = type->getDeviceNames (false);
        const int index = type->getDefaultDeviceIndex (false);
        if (index < 0 || index >= names.size())
        {
            logLine ("[ENGINE INIT] backend=\"%s\" has no default output\n", backend.typeName);
            continue;
        }

        const auto& outputName = names[index];
        logLine ("[ENGINE INIT] retry backend=\"%s\" default_output=\"%s\" requested_buffer=%d\n", backend.typeName,
                 outputName.toRawUTF8(), backend.requestedBuffer);

        juce::XmlElement setup ("DEVICESETUP");
        setup.setAttribute ("deviceType", backend.typeName);
        setup.setAttribute ("audioOutputDeviceName", outputName);
        setup.setAttribute ("audioInputDeviceName", juce::String());
        setup.setAttribute ("audioDeviceBufferSize", backend.requestedBuffer);

        manager.closeAudioDevice();
        error = platform::checkOpenedOutput (manager, manager.initialise (0, 2, &setup, false, {}, nullptr));
        logEngineInitResult (manager, "retry", error);
        if (error.isEmpty())
            return {};
    }

    manager.closeAudioDevice();
    return error;
}

} // namespace quorvalen
