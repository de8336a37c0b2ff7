#include "BlockSource.h"
#include "HeapWatch.h"
#include "TestAudio.h"

#include "foundry/FoundryAuditionCharacterSource.h"
#include "foundry/FoundryRefreshMemoryAudioSource.h"
#include "foundry/FoundryRegionFilterSource.h"

#include <gtest/gtest.h>

using namespace qvtest;
using quorvalen::FoundryAuditionCharacterSource;
using quorvalen::FoundryRefreshMemoryAudioSource;
using quorvalen::FoundryRegionFilterSource;
using quorvalen::PreviewPlayhead;

namespace
{
// Pulls `blocks` blocks of 512 frames; returns the output of the last `keep` frames.
juce::AudioBuffer<float> pull (juce::AudioSource& stage, int blocks, int channels = 2)
{
    juce::AudioBuffer<float> all (channels, blocks * 512);
    for (int b = 0; b < blocks; ++b)
        stage.getNextAudioBlock (juce::AudioSourceChannelInfo (&all, b * 512, 512));
    return all;
}

void enableAllSlots (FoundryRegionFilterSource& f)
{
    for (std::uint32_t s = 0; s < 3; ++s)
        f.setFoundryMainPreviewRegionFilter (s, true, 200.0f + 100.0f * (float) s, 50.0f, true, 8000.0f, 30.0f);
    f.region1On = true;
    f.region2On = true;
    f.region1Start = 0.01f;
    f.region2Start = 0.02f;
    f.enabled = true;
}
} // namespace

TEST (FoundryChainSources, AudioThreadAllocatesNothing)
{
    BlockSource tone (sine (700.0, 48000.0, 48000, 0.3f));
    FoundryAuditionCharacterSource character (&tone);
    PreviewPlayhead playhead;
    FoundryRegionFilterSource regions (&tone, nullptr, playhead);
    character.prepareToPlay (512, 48000.0);
    regions.prepareToPlay (512, 48000.0);
    enableAllSlots (regions);
    regions.previewLengthSeconds = 0.05;
    playhead.looping = true;

    juce::AudioBuffer<float> fresh (2, 48000), previous (2, 48000);
    fresh.clear();
    previous.clear();
    FoundryRefreshMemoryAudioSource refresh (fresh, previous, 100, true);

    juce::AudioBuffer<float> block (2, 2048);
    heap::touchHeapOnce();
    heap::resetCounts();
    heap::watching = true;
    for (int mode = -1; mode <= 3; ++mode)
    {
        character.mode = mode;
        character.transientAmount = 80.0f;
        character.bodyHeat = character.tailHeat = character.overtoneDrive = 60.0f;
        character.width = 50.0f;
        character.heatMode = mode + 1;
        for (int b = 0; b < 8; ++b)
            character.getNextAudioBlock (juce::AudioSourceChannelInfo (&block, 0, b == 7 ? 2048 : 512));
    }
    for (int b = 0; b < 16; ++b) // crosses into all three regions, wraps, and resets once
    {
        regions.resetRequested = b == 5;
        regions.getNextAudioBlock (juce::AudioSourceChannelInfo (&block, 0, 512));
        refresh.getNextAudioBlock (juce::AudioSourceChannelInfo (&block, 0, 512));
    }
    heap::watching = false;
    EXPECT_EQ (heap::allocations.load(), 0);
}

TEST (FoundryChainSources, CharacterModesAndWidth)
{
    // Transient mode lifts an attack and leaves the steady state near the ceiling.
    juce::AudioBuffer<float> burst (2, 48000);
    burst.clear();
    for (int i = 24000; i < 48000; ++i)
        burst.setSample (0, i, 0.1f * std::sin (0.05f * (float) i));
    burst.copyFrom (1, 0, burst, 0, 0, 48000);
    BlockSource input (burst);
    FoundryAuditionCharacterSource character (&input);
    character.prepareToPlay (512, 48000.0);
    character.transientAmount = 100.0f;
    auto out = pull (character, 93);
    EXPECT_GT (peakAbs (out.getReadPointer (0) + 24000, 1000), 0.2f);
    EXPECT_NEAR (peakAbs (out.getReadPointer (0) + 40000, 4000), 0.1334f, 0.01f);

    // Tail mode with width -100 makes the output mono.
    auto wide = sine (400.0, 48000.0, 48000, 0.2f);
    wide.applyGain (1, 0, 48000, -1.0f);
    BlockSource stereo (wide);
    FoundryAuditionCharacterSource tail (&stereo);
    tail.prepareToPlay (512, 48000.0);
    tail.mode = 2;
    tail.width = -100.0f;
    auto mono = pull (tail, 8);
    EXPECT_LT (peakAbs (mono.getReadPointer (0), 4096), 1e-6f);

    // Without an input the stage outputs silence.
    FoundryAuditionCharacterSource none (nullptr);
    none.prepareToPlay (512, 48000.0);
    auto silent = pull (none, 1);
    EXPECT_EQ (peakAbs (silent.getReadPointer (0), 512), 0.0f);
}

TEST (FoundryChainSources, RegionFiltersColourAndFollowTheSlot)
{
    BlockSource tone (sine (1000.0, 48000.0, 48000, 0.5f));
    PreviewPlayhead playhead;
    FoundryRegionFilterSource regions (&tone, nullptr, playhead);
    regions.prepareToPlay (512, 48000.0);
    const auto dry = pull (regions, 4); // disabled: passes through
    tone.pos = 0;

    // Only a wide-open low-pass still colours (oversampling and soft clip).
    regions.setFoundryMainPreviewRegionFilter (0, false, 20.0f, 0.0f, true, 20000.0f, 0.0f);
    regions.enabled = true;
    const auto open = pull (regions, 4);
    float diff = 0.0f;
    for (int i = 0; i < 2048; ++i)
        diff = std::max (diff, std::abs (open.getSample (0, i) - dry.getSample (0, i)));
    EXPECT_GT (diff, 1e-3f);

    // A 5 kHz high-pass in region 1 removes the tone once the position reaches it.
    regions.setFoundryMainPreviewRegionFilter (1, true, 5000.0f, 0.0f, false, 20000.0f, 0.0f);
    regions.region1On = true;
    regions.region1Start = 0.05f;
    regions.previewLengthSeconds = 1.0;
    auto out = pull (regions, 20); // 0.043 .. 0.256 s
    EXPECT_GT (peakAbs (out.getReadPointer (0), 512), 0.3f);
    EXPECT_LT (peakAbs (out.getReadPointer (1) + 8192, 2048), 0.03f);            // 12 dB per octave: about 1/25
    EXPECT_NEAR (playhead.positionSeconds.load(), 28.0 * 512.0 / 48000.0, 1e-9); // disabled blocks count too
}

TEST (FoundryChainSources, RefreshCrossfadeLengths)
{
    juce::AudioBuffer<float> fresh (2, 4000), previous (2, 3000), none (2, 0);
    for (int c = 0; c < 2; ++c)
    {
        juce::FloatVectorOperations::fill (fresh.getWritePointer (c), 1.0f, 4000);
        juce::FloatVectorOperations::fill (previous.getWritePointer (c), -1.0f, 3000);
    }
    FoundryRefreshMemoryAudioSource looping (fresh, previous, 2900, true);
    EXPECT_EQ (looping.crossfadeLength(), 2048);
    FoundryRefreshMemoryAudioSource once (fresh, previous, 2000, false);
    EXPECT_EQ (once.crossfadeLength(), 1000);
    FoundryRefreshMemoryAudioSource past (fresh, previous, 3500, false);
    EXPECT_EQ (past.crossfadeLength(), 0);
    FoundryRefreshMemoryAudioSource empty (fresh, none, 0, true);
    EXPECT_EQ (empty.crossfadeLength(), 0);

    auto out = pull (looping, 5);
    EXPECT_FLOAT_EQ (out.getSample (0, 0), -1.0f); // all previous at the start
    EXPECT_NEAR (out.getSample (1, 1024), 0.0f, 2e-3f);
    EXPECT_FLOAT_EQ (out.getSample (0, 2047), 1.0f);
    EXPECT_FLOAT_EQ (out.getSample (0, 2500), 1.0f);
}
