#pragma once
// Per-region filters of the Foundry main preview, chosen by playback position: a
// resonant high-pass and low-pass per region slot at four times the rate, gliding
// to their settings. The stage also keeps the main preview's playback position
// (for loop telemetry) from the transport's progress, in playback's playhead.
#include "dsp/Biquad.h"
#include "foundry/FoundryOversampledStage.h"
#include "playback/PlaybackState.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <array>
#include <atomic>
#include <cstdint>

namespace quorvalen
{

class FoundryRegionFilterSource final : public FoundryOversampledStage
{
public:
    FoundryRegionFilterSource (juce::AudioSource* input, juce::AudioTransportSource* transport,
                               PreviewPlayhead& playhead)
            : FoundryOversampledStage (input), playhead (playhead), transport (transport)
    {}

    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    // Stores slot 0..2's filters (frequencies held to 20..20000 Hz, resonances to
    // 0..100 %); other slots are ignored. No lock: every field is atomic.
    void setFoundryMainPreviewRegionFilter (std::uint32_t slot, bool highPassOn, float highPassHz,
                                            float highPassResonance, bool lowPassOn, float lowPassHz,
                                            float lowPassResonance) noexcept;

    static constexpr int slotCount = 3;

    std::atomic<bool> enabled { false };
    std::atomic<bool> resetRequested { true };
    std::atomic<float> region1Start { 0.0f }; // seconds
    std::atomic<float> region2Start { 0.0f };
    std::atomic<bool> region1On { false };
    std::atomic<bool> region2On { false };
    std::atomic<double> previewLengthSeconds { 0.0 };
    // Its position, speed and loop (playback owns them).
    PreviewPlayhead& playhead;

    struct Slot
    {
        std::atomic<bool> highPassOn { false };
        std::atomic<float> highPassHz { 20.0f };
        std::atomic<float> highPassResonance { 0.0f };
        std::atomic<bool> lowPassOn { false };
        std::atomic<float> lowPassHz { 20000.0f };
        std::atomic<float> lowPassResonance { 0.0f };
    };
    std::array<Slot, slotCount> slots;

private:
    void advancePosition (double p0, int samples) noexcept;
    void resetState() noexcept override;

    juce::AudioTransportSource* transport;

    // Audio thread only: glided settings and filter states of each slot.
    struct SlotState
    {
        double highPassHz = 20.0, highPassResonance = 0.0, lowPassHz = 20000.0, lowPassResonance = 0.0;
        std::array<dsp::Biquad, 2> highPass, lowPass; // per channel
    };
    std::array<SlotState, slotCount> state;
};

} // namespace quorvalen
