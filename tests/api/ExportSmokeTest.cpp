// Loads the shared library the way a host does and checks its exported surface.
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace
{
std::set<std::string> declaredExports()
{
    std::ifstream header (QV_HEADER_PATH);
    std::stringstream text;
    text << header.rdbuf();
    const std::string s = text.str();
    std::set<std::string> names;
    const std::regex decl (R"(QUORVALEN_API[^;(]*?\b(quorvalen_[a-z0-9_]+)\s*\()");
    for (auto it = std::sregex_iterator (s.begin(), s.end(), decl); it != std::sregex_iterator(); ++it)
        names.insert ((*it)[1]);
    return names;
}

std::set<std::string> dynamicSymbols()
{
    std::set<std::string> names;
    const std::string cmd = std::string ("nm -D --defined-only '") + QV_LIBRARY_PATH + "'";
    FILE* pipe = popen (cmd.c_str(), "r");
    char line[1024];
    while (pipe != nullptr && fgets (line, sizeof line, pipe) != nullptr)
    {
        std::istringstream row (line);
        std::string address, type, name;
        row >> address >> type >> name;
        if (! name.empty() && type != "A") // version nodes are absolute symbols, not code
            names.insert (name);
    }
    if (pipe != nullptr)
        pclose (pipe);
    return names;
}

// The interface a host builds against: every name, so that one dropped from both
// the header and the library still fails.
const std::set<std::string>& pinnedInterface()
{
    static const std::set<std::string> names {
        "quorvalen_apply_gain",
        "quorvalen_play_wav",
        "quorvalen_test_audio",
        "quorvalen_engine_init",
        "quorvalen_engine_is_ready",
        "quorvalen_engine_shutdown",
        "quorvalen_engine_cache_wav",
        "quorvalen_engine_cache_wav_memory",
        "quorvalen_engine_cache_wav_trimmed",
        "quorvalen_engine_cache_wav_memory_trimmed",
        "quorvalen_engine_clone_cached",
        "quorvalen_engine_unload_cached",
        "quorvalen_engine_clear_cache",
        "quorvalen_engine_export_cached_wav",
        "quorvalen_engine_play_cached",
        "quorvalen_engine_play_wav",
        "quorvalen_engine_stop",
        "quorvalen_engine_get_playback_telemetry",
        "quorvalen_engine_set_foundry_main_preview_looping",
        "quorvalen_engine_set_foundry_main_preview_pitch",
        "quorvalen_engine_get_master_stereo_scope",
        "quorvalen_engine_get_master_spectrum",
        "quorvalen_engine_get_master_pitch",
        "quorvalen_engine_begin_processing_edit_session",
        "quorvalen_engine_crop_processing_edit_session",
        "quorvalen_engine_end_fade_processing_edit_session",
        "quorvalen_engine_reverse_processing_edit_session",
        "quorvalen_engine_undo_processing_edit_session",
        "quorvalen_engine_redo_processing_edit_session",
        "quorvalen_engine_end_processing_edit_session",
        "quorvalen_engine_update_processing_rack",
        "quorvalen_engine_play_cached_with_processing",
        "quorvalen_engine_render_cached_with_processing",
        "quorvalen_engine_get_space_ir_count",
        "quorvalen_engine_get_space_ir_name",
        "quorvalen_engine_set_foundry_automation",
        "quorvalen_engine_detect_foundry_pitch",
        "quorvalen_engine_play_foundry_region",
        "quorvalen_engine_set_foundry_audition_character",
        "quorvalen_engine_set_foundry_audition_filters",
        "quorvalen_engine_set_foundry_main_preview_region_filters",
        "quorvalen_engine_begin_cqt_spectral_session",
        "quorvalen_engine_apply_cqt_spectral_session_stroke",
        "quorvalen_engine_undo_cqt_spectral_session",
        "quorvalen_engine_redo_cqt_spectral_session",
        "quorvalen_engine_end_cqt_spectral_session",
        "quorvalen_engine_create_cqt_spectral_edit",
        "quorvalen_engine_create_manifold_cqt_morph",
        "quorvalen_engine_create_reese_cqt_morph",
        "quorvalen_engine_create_manifold_classic",
        "quorvalen_engine_play_body_tail_morph",
        "quorvalen_engine_play_transient_body_morph",
        "quorvalen_engine_play_foundry_preview",
        "quorvalen_engine_refresh_foundry_preview",
        "quorvalen_engine_export_foundry_preview",
        "quorvalen_engine_apply_render_surprise",
        "quorvalen_engine_get_cqt_spectral_session_image",
        "quorvalen_engine_get_cqt_spectrogram",
        "quorvalen_engine_play_cached_gaborator_roundtrip",
    };
    return names;
}
} // namespace

TEST (Exports, EveryDeclaredFunctionResolvesAndNothingElseIsVisible)
{
    const auto& pinned = pinnedInterface();
    ASSERT_EQ (pinned.size(), 59u);
    EXPECT_EQ (declaredExports(), pinned);

    void* lib = dlopen (QV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE (lib, nullptr) << dlerror();
    for (const auto& name : pinned)
        EXPECT_NE (dlsym (lib, name.c_str()), nullptr) << name;

    using ReadyFn = int (*)();
    auto ready = reinterpret_cast<ReadyFn> (dlsym (lib, "quorvalen_engine_is_ready"));
    ASSERT_NE (ready, nullptr);
    EXPECT_EQ (ready(), 0);

    // Two names, one function.
    EXPECT_EQ (dlsym (lib, "quorvalen_engine_play_body_tail_morph"),
               dlsym (lib, "quorvalen_engine_play_transient_body_morph"));

    EXPECT_EQ (dynamicSymbols(), pinned);
    EXPECT_EQ (dlclose (lib), 0);
}
