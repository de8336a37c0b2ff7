// Spectral sessions through the exports: opening, the STFT state, undo and redo
// by deltas, ending, and playback resuming in place after an edit.
#include "HostileAudio.h"
#include "LongCallProbe.h"
#include "SpectralTestSupport.h"

#include "cache/AudioCache.h"
#include "dsp/RadixTwoFft.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/SpectralHistory.h"
#include "spectral/SpectralPlayback.h"
#include "spectral/stft/SpectralStft.h"
#include "spectral/stft/StftTransform.h"

#include <quorvalen_dsp.h>

#include <complex>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>

using namespace qvtest;
using namespace std::chrono_literals;
using quorvalen::engine;

namespace
{
class SpectralSession : public SpectralFixture
{};

// A small knife cut near the top of the spectrum.
const std::vector<StrokePoint> knifeCut { { 0.5f, 0.1f, 0.01f, 0.01f, 1.0f } };

// The STFT state a full build gives for `audio`.
std::vector<std::vector<std::complex<float>>> fullBuild (const juce::AudioBuffer<float>& audio)
{
    quorvalen::SpectralSession fresh;
    fresh.numSamples = audio.getNumSamples();
    EXPECT_TRUE (quorvalen::buildStftState (fresh, audio));
    return fresh.stftBins;
}
} // namespace

TEST (StftTransform, MatchesTheRadixTwoFftBitForBit)
{
    juce::Random r (17);
    for (const std::size_t size : { 1024u, 4096u, 512u, 1000u })
        for (const bool inverse : { false, true })
        {
            std::vector<std::complex<float>> data (size);
            for (auto& v : data)
                v = { (r.nextFloat() - 0.5f) * 1e3f, (r.nextFloat() - 0.5f) * 1e-3f };
            auto expected = data;
            quorvalen::dsp::fftComplexInPlace (expected, inverse);
            quorvalen::stftTransform (data, inverse);
            EXPECT_EQ (std::memcmp (data.data(), expected.data(), size * sizeof (data[0])), 0) << size << inverse;
        }
}

TEST (StftState, ReadsNonFiniteSamplesAsZero)
{
    auto audio = noiseBuffer (4000, 2, 0.5f);
    auto zeroed = audio;
    for (const auto& [c, i, v] : { std::tuple { 0, 100, std::nanf ("") }, std::tuple { 1, 2000, (float) INFINITY },
                                   std::tuple { 0, 3999, -(float) INFINITY } })
    {
        audio.setSample (c, i, v);
        zeroed.setSample (c, i, 0.0f);
    }
    EXPECT_TRUE (fullBuild (audio) == fullBuild (zeroed));
}

TEST (SpectralSessionNotReady, BeginRefusesBeforeInit)
{
    uint32_t live = 0;
    float seconds = 0;
    EXPECT_EQ (quorvalen_engine_begin_cqt_spectral_session (1, &live, &seconds), -2);
    EXPECT_EQ (quorvalen_engine_begin_cqt_spectral_session (1, nullptr, &seconds), -1);
    EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (1), -1);
    EXPECT_EQ (quorvalen_engine_end_cqt_spectral_session (1), 1);
}

TEST_F (SpectralSession, BeginMakesATwoChannelLiveCopyAndLogsOnStandardOutput)
{
    const auto mono = sine (300.0, 48000.0, 4800, 0.5f, 1);
    const int monoId = cache (mono, 48000.0);
    StdoutCapture out;
    const auto a = open (monoId);
    const auto log = out.finish();
    ASSERT_EQ (a.session, 1);
    const auto s = std::to_string (a.session);
    EXPECT_EQ (log,
               "[QUORVALEN WEB STFT DOUBLE KNIFE 1.0.2] session " + s + " opened for cache " + std::to_string (monoId)
                   + " (FFT 1024, hop 174)\n[QUORVALEN DUAL SPECTRAL VIEW 1.1.1] session " + s
                   + " STFT/CQT display switching ready\n[QUORVALEN CQT LASER 1.3.2] session " + s
                   + " laser coefficient targeting ready\n");
    EXPECT_FLOAT_EQ (a.seconds, 0.1f);
    EXPECT_EQ (engine().cache.entries.at (a.live).name, "__native_web_stft_live_session__");
    const auto& live = audio (a.live);
    ASSERT_EQ (live.getNumChannels(), 2);
    EXPECT_EQ (maxAbsDifference (live, mono), 0.0f);
    for (int i = 0; i < 4800; ++i)
        ASSERT_EQ (live.getSample (1, i), mono.getSample (0, i));

    juce::AudioBuffer<float> six (6, 100);
    for (int c = 0; c < 6; ++c)
        for (int i = 0; i < 100; ++i)
            six.setSample (c, i, 0.1f * (float) c + 0.001f * (float) i);
    const auto b = open (cache (six, 48000.0));
    ASSERT_GT (b.session, a.session);
    EXPECT_EQ (maxAbsDifference (audio (b.live), six), 0.0f);
    EXPECT_EQ (audio (b.live).getNumChannels(), 2);

    uint32_t live32 = 0;
    float seconds = 0;
    EXPECT_EQ (quorvalen_engine_begin_cqt_spectral_session (monoId, &live32, nullptr), -1);
    EXPECT_EQ (quorvalen_engine_begin_cqt_spectral_session (9999, &live32, &seconds), -3);
    const auto noRate =
        quorvalen::insertCacheEntry (engine(), { std::make_unique<juce::AudioBuffer<float>> (2, 4), 0.0, "r" });
    EXPECT_EQ (quorvalen_engine_begin_cqt_spectral_session ((int) noRate, &live32, &seconds), -4);
    const auto empty =
        quorvalen::insertCacheEntry (engine(), { std::make_unique<juce::AudioBuffer<float>> (2, 0), 48000.0, "e" });
    EXPECT_EQ (quorvalen_engine_begin_cqt_spectral_session ((int) empty, &live32, &seconds), -5);
}

TEST_F (SpectralSession, StftFramesFollowTheHop)
{
    EXPECT_EQ (session (open (cache (sine (100.0, 48000.0, 1), 48000.0)).session).stftFrames, 1);
    const auto s = open (cache (sine (100.0, 48000.0, 174), 48000.0));
    EXPECT_EQ (session (s.session).stftFrames, 2);
    EXPECT_EQ (session (s.session).stftBins.size(), 2u);
    EXPECT_EQ (session (s.session).stftBins[0].size(), 2u * 513u);
}

TEST_F (SpectralSession, UndoAndRedoMoveTheAudioByItsDeltas)
{
    const auto s = open (cache (sine (200.0, 48000.0, 24000, 0.4f), 48000.0));
    const juce::AudioBuffer<float> original (audio (s.live));
    EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), -2);

    ASSERT_EQ (stroke (s.session, knifeCut, 0), (int) s.live);
    const juce::AudioBuffer<float> edited (audio (s.live));
    ASSERT_GT (maxAbsDifference (edited, original), 0.1f); // the knife sets the peak to 0.97

    ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
    EXPECT_LT (maxAbsDifference (audio (s.live), original), 1e-6f);
    ASSERT_EQ (quorvalen_engine_redo_cqt_spectral_session (s.session), (int) s.live);
    EXPECT_LT (maxAbsDifference (audio (s.live), edited), 1e-6f);
    EXPECT_EQ (quorvalen_engine_redo_cqt_spectral_session (s.session), -2);

    // A stroke after an undo drops what could be redone.
    ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
    ASSERT_EQ (stroke (s.session, knifeCut, 0), (int) s.live);
    EXPECT_TRUE (session (s.session).redoStack.empty());
    EXPECT_EQ (quorvalen_engine_redo_cqt_spectral_session (s.session), -2);
    EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (999), -1);
}

TEST_F (SpectralSession, NonFiniteSourceSamplesStayContainedInEveryEdit)
{
    // 0.5 s of a stereo 440 Hz tone in a float WAV, with NaN and infinities among it.
    std::vector<float> frames;
    for (int i = 0; i < 24000; ++i)
    {
        const float x = 0.3f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 440.0 * i / 48000.0);
        frames.insert (frames.end(), { x, x });
    }
    for (const int i : { 1000, 9000, 17000 })
    {
        frames[(size_t) (2 * i)] = std::numeric_limits<float>::quiet_NaN();
        frames[(size_t) (2 * i + 3)] = std::numeric_limits<float>::infinity();
        frames[(size_t) (2 * i + 6)] = -std::numeric_limits<float>::infinity();
    }
    const auto bytes = floatWav (frames, 2, 48000);
    const auto path = tempDir() + "/nan.wav";
    ASSERT_TRUE (writeBytes (path, bytes));
    const int byMemory = quorvalen_engine_cache_wav_memory (bytes.data(), bytes.size());
    const int byFile = quorvalen_engine_cache_wav (path.c_str());

    for (const int id : { byMemory, byFile })
    {
        const auto s = open (id);
        ASSERT_GT (s.session, 0);
        const juce::AudioBuffer<float> original (audio (s.live));
        ASSERT_EQ (stroke (s.session, { { 0.5f, 0.5f, 0.2f, 0.2f, 0.0f } }, 4), (int) s.live); // Z sculpt
        EXPECT_TRUE (allFinite (audio (s.live)));
        ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
        EXPECT_TRUE (allFinite (audio (s.live)));
        EXPECT_LT (maxAbsDifference (audio (s.live), original), 1e-6f);
        for (const float x : { 0.3f, 0.7f })
            EXPECT_EQ (stroke (s.session, { { x, 0.3f, 0.01f, 0.01f, 1.0f } }, 0), (int) s.live); // knife
        EXPECT_TRUE (allFinite (audio (s.live)));
    }

    const auto peak = [] (int id) {
        const auto& b = audio ((uint32_t) id);
        return b.getMagnitude (0, b.getNumSamples());
    };
    const int mangle = quorvalen_engine_create_manifold_cqt_morph (byMemory, byFile, 50.0f, 0, 120.0f, 0);
    ASSERT_GT (mangle, 0);
    EXPECT_TRUE (allFinite (audio ((uint32_t) mangle)));
    EXPECT_NEAR (peak (mangle), 0.9942601f, 1e-4f);

    const uint32_t ids[] { (uint32_t) byMemory, (uint32_t) byFile };
    const float gains[] { 1.0f, 1.0f };
    const int32_t roles[] { 0, 1 };
    const int mix = quorvalen_engine_create_manifold_classic (ids, gains, roles, 2, 0, 60.0f, 0.0f, 0, 0);
    ASSERT_GT (mix, 0);
    EXPECT_TRUE (allFinite (audio ((uint32_t) mix)));
    EXPECT_NEAR (peak (mix), 0.977f, 1e-4f);
}

TEST_F (SpectralSession, UndoAndRedoAnalyseAgainOnlyTheFramesTheirSamplesReach)
{
    const auto s = open (cache (noiseBuffer (96000, 4, 0.4f), 48000.0));
    auto& bins = session (s.session).stftBins;
    // A small Z sculpt box in the middle: its record covers the whole sound, its
    // samples move only around 1 s.
    ASSERT_EQ (stroke (s.session, { { 0.5f, 0.3f, 0.002f, 0.05f, 0.0f } }, 4), (int) s.live);
    ASSERT_TRUE (bins == fullBuild (audio (s.live)));

    // A frame far from the change, marked: analysing it again would clear the mark.
    const std::size_t far = 10 * 513;
    for (const bool redo : { false, true })
    {
        bins[0][far] = { 1234.0f, 0.0f };
        const int moved = redo ? quorvalen_engine_redo_cqt_spectral_session (s.session)
                               : quorvalen_engine_undo_cqt_spectral_session (s.session);
        ASSERT_EQ (moved, (int) s.live);
        EXPECT_EQ (bins[0][far], std::complex<float> (1234.0f, 0.0f)) << redo;
        auto expected = fullBuild (audio (s.live));
        expected[0][far] = bins[0][far];
        EXPECT_TRUE (bins == expected) << redo;
    }

    // A knife step moves every sample (the peak is set again): every frame is analysed.
    ASSERT_EQ (stroke (s.session, knifeCut, 0), (int) s.live);
    bins[0][far] = { 1234.0f, 0.0f };
    ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
    EXPECT_TRUE (bins == fullBuild (audio (s.live)));
}

TEST_F (SpectralSession, HistoryKeepsTheLast48Strokes)
{
    const auto s = open (cache (sine (200.0, 48000.0, 4000, 0.4f), 48000.0));
    const std::vector<StrokePoint> box { { 0.5f, 0.5f, 0.1f, 0.1f, 0.0f } };
    for (int i = 0; i < 49; ++i)
        ASSERT_EQ (stroke (s.session, box, 4), (int) s.live);
    EXPECT_EQ (session (s.session).undoStack.size(), 48u);
    for (int i = 0; i < 48; ++i)
        ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
    EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), -2);
    EXPECT_EQ (session (s.session).redoStack.size(), 48u);
}

TEST_F (SpectralSession, LongHistoryStaysWithinTheByteBudgetAndUndoesExactly)
{
    // Twin sessions take the same knife cuts: `full` under the default floor keeps
    // all 12, `bounded` under a floor of 0 keeps 8 x its live copy: 8 whole-file steps.
    const int source = cache (sine (200.0, 48000.0, 4800, 0.4f), 48000.0);
    const auto full = open (source), bounded = open (source);
    const auto cut = [] (int i) {
        return std::vector<StrokePoint> { { 0.05f + 0.075f * (float) i, 0.1f, 0.02f, 0.02f, 1.0f } };
    };
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ (stroke (full.session, cut (i), 0), (int) full.live);

    struct FloorGuard
    {
        FloorGuard() { quorvalen::setSpectralHistoryBudgetFloor (0); }
        ~FloorGuard() { quorvalen::setSpectralHistoryBudgetFloor (quorvalen::spectralHistoryBudgetFloor); }
    } floor;
    StdoutCapture out;
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ (stroke (bounded.session, cut (i), 0), (int) bounded.live);
    const auto log = out.finish();
    const std::string dropped = "[QUORVALEN WEB STFT DOUBLE KNIFE 1.0.2] session " + std::to_string (bounded.session)
        + " history over its 0.3 MB budget; 1 oldest steps dropped\n";
    int lines = 0;
    for (auto at = log.find (dropped); at != std::string::npos; at = log.find (dropped, at + 1))
        ++lines;
    EXPECT_EQ (lines, 4);
    ASSERT_EQ (maxAbsDifference (audio (bounded.live), audio (full.live)), 0.0f);

    // Every kept step undoes and redoes exactly as in the untrimmed history.
    for (int i = 0; i < 8; ++i)
    {
        ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (bounded.session), (int) bounded.live) << i;
        ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (full.session), (int) full.live) << i;
        ASSERT_EQ (maxAbsDifference (audio (bounded.live), audio (full.live)), 0.0f) << i;
    }
    EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (bounded.session), -2);
    for (int i = 0; i < 8; ++i)
    {
        ASSERT_EQ (quorvalen_engine_redo_cqt_spectral_session (bounded.session), (int) bounded.live) << i;
        ASSERT_EQ (quorvalen_engine_redo_cqt_spectral_session (full.session), (int) full.live) << i;
    }
    EXPECT_EQ (quorvalen_engine_redo_cqt_spectral_session (bounded.session), -2);
    EXPECT_EQ (maxAbsDifference (audio (bounded.live), audio (full.live)), 0.0f);
    for (int i = 0; i < 12; ++i) // the untrimmed twin still reaches its oldest steps
        ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (full.session), (int) full.live) << i;
}

TEST_F (SpectralSession, AFailedUndoKeepsTheAudioAndTheStep)
{
    const auto s = open (cache (sine (200.0, 48000.0, 24000, 0.4f), 48000.0));
    ASSERT_EQ (stroke (s.session, knifeCut, 0), (int) s.live);
    const juce::AudioBuffer<float> edited (audio (s.live));

    // Another operation reshaped the live copy: nothing may be read or written.
    auto& entry = engine().cache.entries.at (s.live);
    auto kept = std::exchange (entry.buffer, std::make_unique<juce::AudioBuffer<float>> (2, 100));
    entry.buffer->clear();
    EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), -3);
    EXPECT_EQ (stroke (s.session, knifeCut, 4), -4);
    EXPECT_EQ (audio (s.live).getMagnitude (0, 100), 0.0f);

    entry.buffer = std::move (kept);
    EXPECT_EQ (maxAbsDifference (audio (s.live), edited), 0.0f);
    EXPECT_EQ (session (s.session).undoStack.size(), 1u);
    EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
}

TEST_F (SpectralSession, EndRemovesTheLiveCopyAndStopsItsPlayback)
{
    const int source = cache (sine (200.0, 48000.0, 48000, 0.4f), 48000.0);
    const auto s = open (source);
    ASSERT_EQ (quorvalen_engine_play_cached ((int) s.live, 0.0f, 100.0f), 0);
    EXPECT_EQ (quorvalen_engine_end_cqt_spectral_session (s.session), 0);
    EXPECT_EQ (engine().playback.playingCacheId, 0u);
    EXPECT_FALSE (engine().playback.transportSource.isPlaying());
    EXPECT_EQ (engine().cache.entries.count (s.live), 0u);
    EXPECT_EQ (engine().cache.entries.count ((uint32_t) source), 1u);
    EXPECT_EQ (quorvalen_engine_end_cqt_spectral_session (s.session), 1);

    // The session outlives a host that unloaded its live copy; its calls fail cleanly.
    const auto t = open (source);
    ASSERT_EQ (quorvalen_engine_unload_cached ((int) t.live), 0);
    EXPECT_EQ (stroke (t.session, knifeCut, 0), -5);
    EXPECT_EQ (stroke (t.session, knifeCut, 4), -4);
    EXPECT_EQ (quorvalen_engine_end_cqt_spectral_session (t.session), 0);
}

TEST_F (SpectralSession, LongStrokesUndoAndImagesLeaveTheEngineLockToOthers)
{
    // On 10 s each of these works for hundreds of milliseconds or more, the knife
    // and its undo over the whole sound; the engine lock is taken only to copy
    // and to install.
    const auto s = open (cache (noiseBuffer (480000, 6, 0.4f), 48000.0));
    std::vector<StrokePoint> boxes;
    for (int i = 0; i < 20; ++i)
        boxes.push_back ({ 0.5f + 0.001f * (float) i, 0.5f, 0.5f, 0.5f, 0.0f });
    const std::vector<StrokePoint> wholePlane { { 0.5f, 0.5f, 1.0f, 1.0f, 0.0f } };
    std::vector<float> image (960 * 385);
    const struct
    {
        const char* name;
        std::function<int()> run;
        int expected;
    } steps[] = {
        { "knife", [&] { return stroke (s.session, heavyKnife(), 0); }, (int) s.live },
        { "undo", [&] { return quorvalen_engine_undo_cqt_spectral_session (s.session); }, (int) s.live },
        { "Z sculpt", [&] { return stroke (s.session, boxes, 4); }, (int) s.live },
        { "reducer", [&] { return stroke (s.session, wholePlane, 2); }, (int) s.live },
        { "image", [&] { return quorvalen_engine_get_cqt_spectral_session_image (s.session, image.data(), 960, 385); },
          0 },
    };
    for (const auto& step : steps)
    {
        int result = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const double waited = longestTelemetryWaitMs ([&] { result = step.run(); });
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - t0;
        EXPECT_EQ (result, step.expected) << step.name;
        EXPECT_LT (waited, telemetryWaitLimit().count()) << step.name << " took " << took.count() << " ms";
    }
}

TEST_F (SpectralSession, AStrokeAfterPlaybackRanToItsEndWritesIntoTheBufferItsSourceHolds)
{
    // A knife stroke's result over the whole sound becomes the live copy's buffer,
    // unless a finished playback still holds the old one.
    const auto s = open (cache (sine (200.0, 48000.0, 4800, 0.4f), 48000.0));
    ASSERT_EQ (quorvalen_engine_play_cached ((int) s.live, 0.0f, 100.0f), 0);
    double position = 0.0, length = 0.0;
    uint32_t playing = 1;
    ASSERT_TRUE (waitFor (
        [&] { return quorvalen_engine_get_playback_telemetry (&position, &length, &playing) == 0 && playing == 0; },
        3000ms));
    const auto* held = &audio (s.live);
    ASSERT_EQ (stroke (s.session, knifeCut, 0), (int) s.live);
    EXPECT_EQ (&audio (s.live), held);
    ASSERT_EQ (quorvalen_engine_get_playback_telemetry (&position, &length, &playing), 0);
    EXPECT_NEAR (length, 0.1, 1e-6);

    ASSERT_EQ (quorvalen_engine_stop(), 0);
    ASSERT_EQ (stroke (s.session, knifeCut, 0), (int) s.live);
    EXPECT_NE (&audio (s.live), held);
    EXPECT_NEAR (audio (s.live).getMagnitude (0, 4800), 0.97f, 1e-6f);
}

TEST (SpectralResume, StartPositionWrapsWhenLoopingAndClampsOtherwise)
{
    using quorvalen::spectralResumePosition;
    EXPECT_NEAR (spectralResumePosition (3.2, 2.0, true), 1.2, 1e-12);
    EXPECT_EQ (spectralResumePosition (3.2, 2.0, false), 2.0);
    EXPECT_EQ (spectralResumePosition (-0.5, 2.0, false), 0.0);
    EXPECT_EQ (spectralResumePosition (-0.5, 2.0, true), 0.0);
    EXPECT_EQ (spectralResumePosition (std::nan (""), 2.0, true), 0.0);
}

TEST_F (SpectralSession, AStrokeWhilePlayingAnOctaveUpResumesInPlaceAtThatPitch)
{
    // A 6 s ramp (0.05 a second of sound) leaves the stroke time to land before
    // the octave-up playback reaches its end.
    const auto s = open (cache (positionRamp (6.0), 48000.0));
    ASSERT_EQ (quorvalen_engine_play_cached ((int) s.live, 12.0f, 100.0f), 0);
    std::this_thread::sleep_for (100ms);
    int result = 0;
    // A small Z sculpt box high up barely touches the ramp.
    const auto out = record (
        100ms,
        [&] {
        result = stroke (s.session, { { 0.9f, 0.05f, 0.01f, 0.01f, 0.0f } }, 4);
        },
        300ms);
    ASSERT_EQ (result, (int) s.live);
    const float skipped = rampSecondsSkipped (out.left, 1.0f, 6.0);
    EXPECT_GT (skipped, 0.0f);
    EXPECT_LT (skipped, 0.3f);
    // Still twice the speed: the ramp climbs 0.1 a second of output.
    const auto& y = out.left;
    const size_t n = y.size();
    ASSERT_GT (n, 4801u);
    const float climb = beforeCharacterCeiling (y[n - 1]) - beforeCharacterCeiling (y[n - 4801]);
    EXPECT_NEAR (climb / 0.1f, 0.1f, 0.005f);
}

TEST_F (SpectralSession, PlaybackThroughTheRackResumesInPlaceAfterAnUndo)
{
    const auto s = open (cache (positionRamp(), 48000.0));
    ASSERT_EQ (stroke (s.session, knifeCut, 4), (int) s.live);
    ASSERT_EQ (quorvalen_engine_play_cached_with_processing ((int) s.live, "{}", 100.0f, 1), 0);
    std::this_thread::sleep_for (300ms);

    StderrCapture err;
    int undone = 0;
    const auto out = record (
        200ms, [&] { undone = quorvalen_engine_undo_cqt_spectral_session (s.session); }, 300ms);
    const auto log = err.finish();
    ASSERT_EQ (undone, (int) s.live);
    EXPECT_NE (log.find ("[QUORVALEN SPECTRAL LOOP RESUME 1.4.4] cache " + std::to_string (s.live) + " resumed at "),
               std::string::npos);
    EXPECT_NE (log.find ("s (loop 1, processing 1)\n"), std::string::npos);
    EXPECT_TRUE (engine().playback.playingThroughRack);
    EXPECT_TRUE (engine().playback.playingLoops);
    EXPECT_TRUE (engine().rackSource.isProcessingEnabled());

    // The ramp tells the position: playback went on from where it was, not from the start.
    const float skipped = rampSecondsSkipped (out.left);
    EXPECT_GT (skipped, 0.0f);
    EXPECT_LT (skipped, 0.15f);
}
