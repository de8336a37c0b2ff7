#include "EngineTestSupport.h"
#include "TestAudio.h"

#include "rack/ImpulseResponseLibrary.h"
#include "rack/RackProcessingState.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <cstdlib>

using namespace quorvalen;
using Names = std::vector<std::string>;

namespace
{
// Creates `relative` (and its folders) under `root`.
void touch (const juce::File& root, const char* relative)
{
    root.getChildFile (relative).create();
}

void writeResponse (const juce::File& file)
{
    qvtest::writeWav (file.getFullPathName().toStdString(), qvtest::decayingNoise (2400, 1, 600.0f), 48000.0, 24);
}

// Works in an empty folder with the variable unset; false when this library's own
// folder (or one above it) holds impulse responses, which would mask the search.
bool isolate()
{
    juce::File (qvtest::tempDir()).setAsCurrentWorkingDirectory();
    unsetenv (impulseResponseDirVariable);
    return listSpaceImpulseResponses().empty();
}

void useFolder (const juce::File& dir)
{
    setenv (impulseResponseDirVariable, dir.getFullPathName().toRawUTF8(), 1);
}
} // namespace

TEST (ImpulseResponses, SortedByCharacterCodeWithExtensionsOfAnyCase)
{
    const juce::File dir (qvtest::tempDir());
    for (const char* name : { "a.flac", "B.wav", "notes.txt", "X.WAV", "b.aif", "A.aiff", "wav", "c.mp3", "sub/0.wav" })
        touch (dir, name);
    useFolder (dir);
    EXPECT_EQ (getSpaceIrNames(), (Names { "A.aiff", "B.wav", "X.WAV", "a.flac", "b.aif" }));
    EXPECT_EQ (quorvalen_engine_get_space_ir_count(), 5);
}

TEST (ImpulseResponses, FolderOrderVariableFirstThenWorkingDirectoryUpwards)
{
    if (! isolate())
        GTEST_SKIP() << "impulse responses beside the test binary mask the search";
    const auto root = juce::File::getCurrentWorkingDirectory();
    const auto work = root.getChildFile ("a/b/c/d/e/f");
    work.createDirectory();
    work.setAsCurrentWorkingDirectory();

    touch (root, "irs/far.wav"); // six folders up: beyond the search
    EXPECT_EQ (quorvalen_engine_get_space_ir_count(), 0);
    touch (root, "a/resources/irs/up.wav");
    EXPECT_EQ (getSpaceIrNames(), Names { "up.wav" });
    touch (work, "cpp/irs/cpp.wav"); // nearer folders first
    EXPECT_EQ (getSpaceIrNames(), Names { "cpp.wav" });
    touch (work, "irs/here.wav"); // irs before cpp/irs
    EXPECT_EQ (getSpaceIrNames(), Names { "here.wav" });

    // The variable's folder first, once it holds a response; relative means under
    // the working directory.
    touch (work, "mine/notes.txt");
    setenv (impulseResponseDirVariable, "mine", 1);
    EXPECT_EQ (getSpaceIrNames(), Names { "here.wav" });
    touch (work, "mine/mine.flac");
    EXPECT_EQ (getSpaceIrNames(), Names { "mine.flac" });

    std::vector<juce::File> candidates;
    addImpulseResponseCandidates (candidates, juce::File ("/x/y"));
    Names paths;
    for (const auto& f : candidates)
        paths.push_back (f.getFullPathName().toStdString());
    EXPECT_EQ (paths,
               (Names { "/x/y/irs", "/x/y/cpp/irs", "/x/y/resources/irs", "/x/irs", "/x/cpp/irs", "/x/resources/irs",
                        "/irs", "/cpp/irs", "/resources/irs" }));
}

TEST (ImpulseResponses, NameQueryReportsSizesAndNeverOverruns)
{
    const juce::File dir (qvtest::tempDir());
    touch (dir, "abcde.wav"); // 9 bytes
    touch (dir, "z.wav");
    useFolder (dir);

    char buffer[16];
    std::fill (std::begin (buffer), std::end (buffer), '#');
    for (const auto& [buf, size] : { std::pair<char*, int> { buffer, 9 }, { buffer, 1 } })
        EXPECT_EQ (quorvalen_engine_get_space_ir_name (0, buf, size), -10);
    for (const auto& [buf, size] : { std::pair<char*, int> { nullptr, 100 }, { buffer, 0 }, { buffer, -4 } })
        EXPECT_EQ (quorvalen_engine_get_space_ir_name (0, buf, size), 10);
    EXPECT_EQ (buffer[0], '#'); // nothing written so far
    EXPECT_EQ (quorvalen_engine_get_space_ir_name (0, buffer, 10), 10);
    EXPECT_STREQ (buffer, "abcde.wav");
    EXPECT_EQ (buffer[10], '#');
    EXPECT_EQ (quorvalen_engine_get_space_ir_name (1, buffer, 16), 6);
    EXPECT_STREQ (buffer, "z.wav");
    for (const int bad : { -1, 2, INT32_MIN, INT32_MAX })
        EXPECT_EQ (quorvalen_engine_get_space_ir_name (bad, buffer, 16), 0);
}

TEST (ImpulseResponses, LoadPicksIndexModuloCountAndReusesAnUnchangedPreparation)
{
    if (! isolate())
        GTEST_SKIP() << "impulse responses beside the test binary mask the search";
    const juce::File dir (qvtest::tempDir());
    for (const char* name : { "a.wav", "b.wav", "c.wav" })
        writeResponse (dir.getChildFile (name));
    useFolder (dir);
    RackProcessingState state (false);
    prepareRackState (state, 48000.0, 512);
    const auto five = parseRackSettings (R"({"spaceEnabled": true, "spaceIrIndex": 5})");

    qvtest::StderrCapture log;
    state.space.loadImpulseResponse (*five, 2, true);
    EXPECT_EQ (log.finish(), "[QUORVALEN SPACE] loaded IR 3/3: c.wav\n");
    ASSERT_NE (state.space.state().convolution, nullptr);
    EXPECT_EQ (state.space.state().convolution->getCurrentIRSize(), 2400); // in place before the first block

    // A device with another block size or rate: the next load searches and loads
    // again, even though the preparation kept the old response playing.
    prepareRackState (state, 48000.0, 1024);
    qvtest::StderrCapture resized;
    state.space.loadImpulseResponse (*five, 2, true);
    EXPECT_EQ (resized.finish(), "[QUORVALEN SPACE] loaded IR 3/3: c.wav\n");

    // Same choice, rate, block size and channels: no search, only a cleared tail.
    const auto* loaded = state.space.state().convolution.get();
    dir.deleteRecursively();
    qvtest::StderrCapture again;
    state.space.loadImpulseResponse (*five, 2, true);
    EXPECT_EQ (again.finish(), "");
    EXPECT_EQ (state.space.state().convolution.get(), loaded);

    // Another channel count searches again, finds nothing and drops the convolution.
    qvtest::StderrCapture empty;
    state.space.loadImpulseResponse (*five, 1, true);
    EXPECT_EQ (empty.finish(), "[QUORVALEN SPACE] no impulse responses found; expected an irs folder\n");
    EXPECT_EQ (state.space.state().convolution, nullptr);
    EXPECT_EQ (state.space.state().loadedIrIndex, -1);
}
