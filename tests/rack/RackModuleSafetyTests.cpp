// Heat, transient, spectral delay and stereo on the audio thread's terms: no
// allocation over many blocks, renders that repeat byte for byte, and recovery
// from non-finite input and poisoned state. The global allocation functions are
// replaced (HeapWatch) and count only while a test marks its thread as audio.
#include "HeapWatch.h"
#include "RackModuleTestSupport.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>


using namespace qvrack;

namespace
{
const std::string everyModule =
    R"({"heatEnabled": true, "heatDrive": 80, "transientEnabled": true, "transientAttack": 6,
        "spectralDelayEnabled": true, "spectralDelayTime": 70, "stereoEnabled": true, "stereoWidth": 6,
        "automation": {"heatMix": [{"x": 0, "y": 0}, {"x": 1, "y": 1}], "stereoCrossover": [{"x": 0.5, "y": 0.9}]}})";
const float qnan = std::numeric_limits<float>::quiet_NaN();
const float inf = std::numeric_limits<float>::infinity();
} // namespace

TEST (RackModuleSafety, ManyBlocksAllocateNothingAndRendersRepeat)
{
    const std::string others[] = { everyModule,
                                   R"({"heatEnabled": true, "heatMode": "console", "transientEnabled": true,
                                       "spectralDelayEnabled": true, "stereoEnabled": true, "stereoWidth": -10})" };
    const auto a = record (others[0]), b = record (others[1]);
    auto state = makeState (100000);
    state->looping = true;
    state->loopLength = 120000;
    auto stereo = signal (0.0, 1024, 0.5f), mono = signal (0.0, 300, 0.5f, 1), wide = signal (0.0, 512, 0.5f, 3);
    qvtest::heap::watching = true;
    for (int block = 0; block < 1500; ++block)
    {
        auto& buffer = block % 7 == 0 ? mono : block % 5 == 0 ? wide : stereo;
        processRackBlock (*state, buffer, 0, buffer.getNumSamples(), block % 3 ? *a : *b);
    }
    qvtest::heap::touchHeapOnce(); // the counter does see this thread
    qvtest::heap::watching = false;
    EXPECT_EQ (qvtest::heap::allocations.load(), 1);

    // The shared noise generator starts from the same seed in every fresh state.
    const auto source = signal (0.0, 48000, 0.5f, 2, 21);
    auto first = source, second = source;
    render (*makeState (48000), first, everyModule);
    render (*makeState (48000), second, everyModule);
    EXPECT_FALSE (identical (first, source));
    EXPECT_TRUE (identical (first, second));
}

TEST (RackModuleSafety, NonFiniteInputAndPoisonedStateDoNotSpread)
{
    const auto settings = record (everyModule);
    const std::pair<int, std::function<void (RackProcessingState&)>> cases[] = {
        { rackModuleHeat, [] (RackProcessingState& s) { s.heat.state().channels[1].output1.y = qnan; } },
        { rackModuleTransient, [] (RackProcessingState& s) { s.transient.state().slow.y = qnan; } },
        { rackModuleSpectralDelay,
          [] (RackProcessingState&
                  s) { s.spectralDelay.state().lineRight.assign (s.spectralDelay.state().lineRight.size(), qnan); } },
        { rackModuleStereo, [] (RackProcessingState& s) { s.stereo.state().lowSide = inf; } },
    };
    for (const auto& [module, poison] : cases)
    {
        SCOPED_TRACE (module);
        auto state = makeState();
        for (int round = 0; round < 2; ++round)
        {
            auto bad = signal (0.0, 512, 0.5f, 2, round);
            if (round == 0)
            {
                bad.setSample (0, 100, qnan);
                bad.setSample (1, 200, inf);
                bad.setSample (0, 300, 3.0e38f);
                bad.setSample (1, 300, -3.0e38f);
            }
            else
            {
                poison (*state);
            }
            runRackModule (*state, bad, 0, 512, module, *settings);
            // A NaN or infinity costs its own sample, not those after it (an overflow
            // inside the oversampler may cost the rest of its block).
            if (round == 0)
                EXPECT_GT (rmsOf (bad, 110, 80), 0.05f);
            // Later clean blocks come out finite and audible.
            for (int block = 0; block < 4; ++block)
            {
                auto clean = signal (0.0, 512, 0.5f, 2, 40 + block);
                runRackModule (*state, clean, 0, 512, module, *settings);
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < 512; ++i)
                        ASSERT_TRUE (std::isfinite (clean.getSample (c, i))) << round << " " << block << " " << i;
                EXPECT_GT (rmsOf (clean, 0, 512), 0.05f);
            }
        }
    }
}
