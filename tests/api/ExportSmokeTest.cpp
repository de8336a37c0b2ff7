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
} // namespace

TEST (Exports, EveryDeclaredFunctionResolvesAndNothingElseIsVisible)
{
    const auto declared = declaredExports();
    ASSERT_GE (declared.size(), 6u);

    void* lib = dlopen (QV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE (lib, nullptr) << dlerror();
    for (const auto& name : declared)
        EXPECT_NE (dlsym (lib, name.c_str()), nullptr) << name;

    using ReadyFn = int (*)();
    auto ready = reinterpret_cast<ReadyFn> (dlsym (lib, "quorvalen_engine_is_ready"));
    ASSERT_NE (ready, nullptr);
    EXPECT_EQ (ready(), 0);

    auto morphA = dlsym (lib, "quorvalen_engine_play_body_tail_morph");
    auto morphB = dlsym (lib, "quorvalen_engine_play_transient_body_morph");
    if (morphA != nullptr || morphB != nullptr)
        EXPECT_EQ (morphA, morphB);

    EXPECT_EQ (dynamicSymbols(), declared);
    EXPECT_EQ (dlclose (lib), 0);
}
