// Every string argument of the C interface against malformed UTF-8: each export
// answers with the code it gives a null pointer and changes nothing. The table of
// string arguments is checked against the public header, so a string argument
// added there fails this test until it is driven here too.
#include "FoundryPreviewCall.h"
#include "HeadlessEngineFixture.h"

#include "engine/QuorvalenEngine.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace qvtest;
using quorvalen::engine;

namespace
{

// Every pointer-to-char parameter the header declares, as "function parameter",
// with whether it is const (an input string) or not (an output buffer).
std::map<std::string, bool> declaredCharPointers()
{
    std::ifstream in (QV_HEADER_PATH);
    std::stringstream text;
    text << in.rdbuf();
    std::string s;
    const auto raw = text.str();
    for (size_t i = 0; i < raw.size(); ++i)
    {
        if (raw.compare (i, 2, "/*") == 0)
            i = raw.find ("*/", i + 2) + 1; // comments go
        else if (raw.compare (i, 2, "\\\n") == 0)
            ++i; // continued lines join
        else
            s += raw[i];
    }
    // Parameter-list macros are expanded where they are used.
    std::map<std::string, std::string> macros;
    std::istringstream lines (s);
    for (std::string line; std::getline (lines, line);)
        if (std::smatch m; std::regex_match (line, m, std::regex (R"(\s*#define\s+(\w+)\s+(.*))")))
            macros[m[1]] = m[2];
    macros.erase ("QUORVALEN_API");
    for (const auto& [name, body] : macros)
        s = std::regex_replace (s, std::regex ("\\b" + name + "\\b"), body);

    std::map<std::string, bool> found;
    const std::regex decl (R"(QUORVALEN_API[^;(]*?\b(quorvalen_\w+)\s*\(([^)]*)\)\s*;)");
    const std::regex charPointer (R"(^\s*(const\s+)?char\s*\*\s*(\w+)\s*$)");
    for (auto it = std::sregex_iterator (s.begin(), s.end(), decl); it != std::sregex_iterator(); ++it)
    {
        std::stringstream params ((*it)[2].str());
        std::string param;
        while (std::getline (params, param, ','))
            if (std::smatch p; std::regex_match (param, p, charPointer))
                found[(*it)[1].str() + " " + p[2].str()] = p[1].matched;
    }
    return found;
}

// Malformed UTF-8 of each kind, and the text that once overran the heap.
const std::vector<std::pair<std::string, std::string>> hostile {
    { "overlong", "\xC0\xAF" },      { "overlong three bytes", "\xE0\x80\xAF" },
    { "lone continuation", "\x80" }, { "truncated lead", "ok\xE2\x82" },
    { "surrogate", "\xED\xA0\x80" }, { "reported", "\xE0\xDF\xDF\xDD\x90" },
};

class StringArguments : public HeadlessEngineTest
{
protected:
    void SetUp() override
    {
        HeadlessEngineTest::SetUp();
        dir = tempDir();
        id = cache (sine (440.0, 48000.0, 48000 * 20, 0.3f));
        ASSERT_GT (id, 0);
        preview.transientId = id;
    }

    // What a refused call must leave as it was.
    struct State
    {
        size_t entries = 0;
        const void* rack = nullptr;
        std::uint32_t playing = 0;
        double length = 0.0;
        size_t files = 0;
        bool operator== (const State&) const = default;
    };
    State state() const
    {
        State s;
        {
            std::lock_guard lock (engine().engineMutex);
            s.entries = engine().cache.entries.size();
        }
        s.rack = engine().rackSource.currentSettings().get();
        double position = 0.0;
        quorvalen_engine_get_playback_telemetry (&position, &s.length, &s.playing);
        for (auto& e : std::filesystem::recursive_directory_iterator (dir))
            s.files += e.is_regular_file() ? 1 : 0;
        return s;
    }

    std::string pathWith (const std::string& bad) const { return dir + "/" + bad + ".wav"; }
    static std::string jsonWith (const std::string& bad) { return "{\"heatMode\": \"" + bad + "\"}"; }

    std::string dir;
    int id = 0;
    FoundryPreviewCall preview;
};

struct StringCase
{
    int refusal;                                      // the code the export gives a null pointer
    std::function<int (const std::string& bad)> call; // the export with `bad` in this argument
};

TEST_F (StringArguments, MalformedUtf8InEveryStringArgumentIsRefusedAndChangesNothing)
{
    const std::map<std::string, StringCase> table {
        { "quorvalen_play_wav path", { 1, [&] (auto& b) { return quorvalen_play_wav (pathWith (b).c_str()); } } },
        { "quorvalen_engine_cache_wav path",
          { -1, [&] (auto& b) { return quorvalen_engine_cache_wav (pathWith (b).c_str()); } } },
        { "quorvalen_engine_cache_wav_trimmed path",
          { -1, [&] (auto& b) { return quorvalen_engine_cache_wav_trimmed (pathWith (b).c_str(), 0, 0); } } },
        { "quorvalen_engine_export_cached_wav path",
          { -1, [&] (auto& b) { return quorvalen_engine_export_cached_wav (id, pathWith (b).c_str()); } } },
        { "quorvalen_engine_play_wav path",
          { 1, [&] (auto& b) { return quorvalen_engine_play_wav (pathWith (b).c_str()); } } },
        { "quorvalen_engine_update_processing_rack json",
          { 1, [&] (auto& b) { return quorvalen_engine_update_processing_rack (jsonWith (b).c_str()); } } },
        { "quorvalen_engine_play_cached_with_processing settingsJson",
          { 4,
            [&] (auto& b) {
        return quorvalen_engine_play_cached_with_processing (id, jsonWith (b).c_str(), 100.0f, 1);
           } } },
        { "quorvalen_engine_render_cached_with_processing json",
          { -1,
            [&] (auto& b) {
        return quorvalen_engine_render_cached_with_processing (id, jsonWith (b).c_str(), (dir + "/render.wav").c_str());
           } } },
        { "quorvalen_engine_render_cached_with_processing outPath",
          { -1,
            [&] (auto& b) {
        return quorvalen_engine_render_cached_with_processing (id, "{}", pathWith (b).c_str());
           } } },
        { "quorvalen_engine_export_foundry_preview path",
          { 8, [&] (auto& b) { return preview.exportTo (pathWith (b).c_str()); } } },
        };
    // Pointer-to-char parameters that the library writes into, not strings it reads.
    const std::set<std::string> outputBuffers { "quorvalen_engine_get_space_ir_name buffer" };

    const auto declared = declaredCharPointers();
    ASSERT_FALSE (declared.empty());
    for (const auto& [param, isConst] : declared)
    {
        if (isConst)
            EXPECT_TRUE (table.count (param) == 1) << param << " is a string argument this test does not drive";
        else
            EXPECT_TRUE (outputBuffers.count (param) == 1) << param << " is neither a known output nor a string";
    }
    for (const auto& [param, c] : table)
        EXPECT_TRUE (declared.count (param) == 1 && declared.at (param)) << param << " is not in the header";

    // Something plays, so that a call that stops playback is seen.
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
    const auto before = state();
    ASSERT_EQ (before.playing, 1u);
    for (const auto& [param, c] : table)
        for (const auto& [kind, bad] : hostile)
        {
            SCOPED_TRACE (param + ", " + kind);
            StderrCapture log;
            EXPECT_EQ (c.call (bad), c.refusal);
            // A refused preview export renders nothing.
            EXPECT_EQ (log.finish().find ("E01A"), std::string::npos);
            EXPECT_TRUE (state() == before);
        }
}

} // namespace
