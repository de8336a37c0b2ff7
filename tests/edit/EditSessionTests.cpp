#include "EngineTestSupport.h"
#include "HeadlessEngineFixture.h"
#include "TestAudio.h"

#include "cache/AudioCache.h"
#include "edit/EditSessions.h"
#include "engine/QuorvalenEngine.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

using namespace qvtest;
using quorvalen::engine;

namespace
{
class EditSession : public HeadlessEngineTest
{
protected:
    void SetUp() override
    {
        HeadlessEngineTest::SetUp();
        juce::AudioBuffer<float> audio (2, 1000);
        for (int i = 0; i < 1000; ++i)
        {
            audio.setSample (0, i, 0.5f);
            audio.setSample (1, i, (float) i / 1000.0f);
        }
        source = (int) quorvalen::insertCacheEntry (
            engine(), { std::make_unique<juce::AudioBuffer<float>> (audio), 44100.0, "source" });
        session = quorvalen_engine_begin_processing_edit_session (source, &work);
        ASSERT_GT (session, 0);
    }
    void TearDown() override { quorvalen_engine_shutdown(); }

    juce::AudioBuffer<float>& buffer() { return *engine().cache.entries[work].buffer; }

    int source = 0, session = 0;
    uint32_t work = 0;
};
} // namespace

TEST_F (EditSession, BeginCopiesTheSourceAndLogs)
{
    uint32_t other = 0;
    StderrCapture log;
    const int second = quorvalen_engine_begin_processing_edit_session (source, &other);
    EXPECT_EQ (log.finish(),
               "[QUORVALEN EDIT 1.0.0] session " + std::to_string (second) + " opened for cache "
                   + std::to_string (source) + "\n");
    EXPECT_EQ (second, session + 1);
    EXPECT_NE (engine().cache.entries[other].buffer->getReadPointer (0),
               engine().cache.entries[(uint32_t) source].buffer->getReadPointer (0));
    EXPECT_EQ (engine().cache.entries[other].name, "__native_processing_edit_session__");

    EXPECT_EQ (quorvalen_engine_begin_processing_edit_session (source, nullptr), -1);
    EXPECT_EQ (quorvalen_engine_begin_processing_edit_session (4242, &other), -3);
    const auto empty =
        quorvalen::insertCacheEntry (engine(), { std::make_unique<juce::AudioBuffer<float>> (2, 0), 44100.0, "e" });
    EXPECT_EQ (quorvalen_engine_begin_processing_edit_session ((int) empty, &other), -5);
    const auto noRate =
        quorvalen::insertCacheEntry (engine(), { std::make_unique<juce::AudioBuffer<float>> (2, 4), 0.0, "r" });
    EXPECT_EQ (quorvalen_engine_begin_processing_edit_session ((int) noRate, &other), -4);
}

TEST_F (EditSession, CropKeepsTheRangeWithDeclickFades)
{
    StderrCapture log;
    ASSERT_EQ (quorvalen_engine_crop_processing_edit_session (session, 0.25f, 0.75f), (int) work);
    EXPECT_NE (log.finish().find ("cropped 0.25000..0.75000 (500 samples)"), std::string::npos);
    const auto& b = buffer();
    ASSERT_EQ (b.getNumSamples(), 500);
    // 220-sample fades at 44.1 kHz; the middle is the original 250..749.
    EXPECT_EQ (b.getSample (0, 0), 0.0f);
    EXPECT_EQ (b.getSample (0, 499), 0.0f);
    EXPECT_NEAR (b.getSample (0, 110), 0.5f * 110.0f / 219.0f, 1e-6f);
    EXPECT_EQ (b.getSample (0, 220), 0.5f);
    EXPECT_EQ (b.getSample (1, 250), 500.0f / 1000.0f);
    EXPECT_EQ (b.getSample (0, 280), 0.5f); // the end fade starts at gain 1
    EXPECT_LT (b.getSample (0, 281), 0.5f);
    // The source entry is untouched.
    EXPECT_EQ (engine().cache.entries[(uint32_t) source].buffer->getNumSamples(), 1000);
}

TEST_F (EditSession, BadCropsAndFadesChangeNothing)
{
    EXPECT_EQ (quorvalen_engine_crop_processing_edit_session (session, 0.7f, 0.3f), -2);
    EXPECT_EQ (quorvalen_engine_crop_processing_edit_session (session, std::nanf (""), 0.5f), -2);
    EXPECT_EQ (quorvalen_engine_crop_processing_edit_session (session, 0.0f, INFINITY), -2);
    EXPECT_EQ (quorvalen_engine_crop_processing_edit_session (session, 0.5f, 0.5004f), -2); // under one sample
    EXPECT_EQ (quorvalen_engine_crop_processing_edit_session (999, 0.1f, 0.5f), -1);
    EXPECT_EQ (quorvalen_engine_end_fade_processing_edit_session (session, 0.0f), -2);
    EXPECT_EQ (quorvalen_engine_end_fade_processing_edit_session (session, std::nanf ("")), -2);
    EXPECT_EQ (quorvalen_engine_undo_processing_edit_session (session), -2);
    EXPECT_EQ (buffer().getNumSamples(), 1000);
}

TEST_F (EditSession, HugeEndFadeFadesTheWholeSound)
{
    ASSERT_EQ (quorvalen_engine_end_fade_processing_edit_session (session, 3.0e38f), (int) work);
    EXPECT_EQ (buffer().getSample (0, 0), 0.5f);
    EXPECT_NEAR (buffer().getSample (0, 500), 0.5f * (1.0f - 500.0f / 999.0f), 1e-6f);
    EXPECT_EQ (buffer().getSample (0, 999), 0.0f);
    // A fade of one sample or less changes nothing but still is an undo step.
    ASSERT_EQ (quorvalen_engine_end_fade_processing_edit_session (session, 0.01f), (int) work);
    EXPECT_EQ (quorvalen_engine_undo_processing_edit_session (session), (int) work);
    EXPECT_EQ (quorvalen_engine_undo_processing_edit_session (session), (int) work);
    EXPECT_EQ (buffer().getSample (0, 999), 0.5f);
}

TEST_F (EditSession, FortyNineEditsKeepFortyEightUndos)
{
    for (int i = 0; i < 49; ++i)
        ASSERT_EQ (quorvalen_engine_end_fade_processing_edit_session (session, 1.0f), (int) work);
    juce::AudioBuffer<float> afterFirst;
    for (int i = 0; i < 48; ++i)
        ASSERT_EQ (quorvalen_engine_undo_processing_edit_session (session), (int) work) << i;
    EXPECT_EQ (quorvalen_engine_undo_processing_edit_session (session), -2);
    // The oldest kept state is the one after the first edit: its tail is faded once.
    const float once = buffer().getSample (0, 999);
    EXPECT_EQ (once, 0.0f);
    EXPECT_NEAR (buffer().getSample (0, 990), 0.5f * (1.0f - 34.0f / 43.0f), 1e-6f);

    ASSERT_EQ (quorvalen_engine_redo_processing_edit_session (session), (int) work);
    ASSERT_EQ (quorvalen_engine_reverse_processing_edit_session (session), (int) work);
    EXPECT_EQ (quorvalen_engine_redo_processing_edit_session (session), -2); // a new edit clears redo
}

TEST_F (EditSession, ReverseTwiceRestoresWithTwoUndoSteps)
{
    ASSERT_EQ (quorvalen_engine_reverse_processing_edit_session (session), (int) work);
    EXPECT_EQ (buffer().getSample (1, 0), 0.999f);
    ASSERT_EQ (quorvalen_engine_reverse_processing_edit_session (session), (int) work);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ (buffer().getSample (1, i), (float) i / 1000.0f);
    EXPECT_EQ (quorvalen_engine_undo_processing_edit_session (session), (int) work);
    EXPECT_EQ (quorvalen_engine_undo_processing_edit_session (session), (int) work);
    EXPECT_EQ (quorvalen_engine_undo_processing_edit_session (session), -2);
}

TEST_F (EditSession, EndingStopsPlaybackOfTheWorkEntryAndDropsIt)
{
    ASSERT_EQ (quorvalen_engine_play_cached ((int) work, 0.0f, 100.0f), 0);
    ASSERT_EQ (quorvalen_engine_reverse_processing_edit_session (session), (int) work);
    EXPECT_EQ (engine().playback.playingCacheId, 0u); // edits detach playback of the work entry
    ASSERT_EQ (quorvalen_engine_play_cached ((int) work, 0.0f, 100.0f), 0);
    EXPECT_EQ (quorvalen_engine_end_processing_edit_session (session), 0);
    EXPECT_EQ (engine().playback.currentSource, nullptr);
    EXPECT_EQ (engine().cache.entries.count (work), 0u);
    EXPECT_EQ (quorvalen_engine_end_processing_edit_session (session), 1);
    EXPECT_EQ (quorvalen_engine_reverse_processing_edit_session (session), -1);
}

TEST_F (EditSession, UnloadedWorkEntryGivesItsCode)
{
    ASSERT_EQ (quorvalen_engine_unload_cached ((int) work), 0);
    EXPECT_EQ (quorvalen_engine_crop_processing_edit_session (session, 0.1f, 0.9f), -3);
    EXPECT_EQ (quorvalen_engine_reverse_processing_edit_session (session), -2);
    EXPECT_EQ (quorvalen_engine_end_fade_processing_edit_session (session, 5.0f), -3);
}

TEST (EditSessionBudget, LongSoundHistoryStaysWithinTheByteBudgetAndUndoesExactly)
{
    // A budget floor of 0 leaves 8 x the work buffer: 8 steps of a 10 s stereo sound.
    useHeadlessOnly();
    ASSERT_EQ (quorvalen_engine_init(), 0);
    quorvalen::setEditHistoryBudgetFloor (0);
    const auto audio = sine (440.0, 48000.0, 480000, 0.5f);
    const auto bytes = wavBytes (audio, 48000.0, 32);
    const int id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
    uint32_t work = 0;
    const int session = quorvalen_engine_begin_processing_edit_session (id, &work);
    ASSERT_GT (session, 0);
    const std::size_t snapshot = 2 * 480000 * sizeof (float);
    const auto historyBytes = [&] {
        std::size_t sum = 0;
        const auto& s = *engine().editSessions.at ((uint32_t) session);
        for (const auto* stack : { &s.undoStack, &s.redoStack })
            for (const auto& b : *stack)
                sum += (std::size_t) b->getNumChannels() * (std::size_t) b->getNumSamples() * sizeof (float);
        return sum;
    };

    StderrCapture log;
    for (int i = 0; i < 20; ++i)
    {
        ASSERT_EQ (quorvalen_engine_reverse_processing_edit_session (session), (int) work);
        ASSERT_LE (historyBytes(), 8 * snapshot) << i;
    }
    EXPECT_NE (log.finish().find ("[QUORVALEN EDIT 1.0.0] session " + std::to_string (session)
                                  + " history over its 30.7 MB budget; 1 oldest steps dropped\n"),
               std::string::npos);

    // Every kept step restores exactly: reversed and forward alternate.
    const auto& now = [&]() -> const juce::AudioBuffer<float>& { return *engine().cache.entries.at (work).buffer; };
    for (int i = 0; i < 8; ++i)
    {
        ASSERT_EQ (quorvalen_engine_undo_processing_edit_session (session), (int) work) << i;
        const bool forward = i % 2 == 1;
        for (int n : { 0, 1234, 479999 })
            ASSERT_EQ (now().getSample (1, n), audio.getSample (1, forward ? n : 479999 - n)) << i;
    }
    EXPECT_EQ (quorvalen_engine_undo_processing_edit_session (session), -2);
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ (quorvalen_engine_redo_processing_edit_session (session), (int) work) << i;
    EXPECT_LE (historyBytes(), 8 * snapshot);
    EXPECT_EQ (now().getSample (0, 0), audio.getSample (0, 0)); // 20 reverses: forward again

    quorvalen::setEditHistoryBudgetFloor (quorvalen::editHistoryBudgetFloor);
    quorvalen_engine_shutdown();
}
