// Offline constant-Q renders on two 10 s stereo 48 kHz sounds: the spectral edit
// (200 brushes of every mode), both morph kinds and the manifold mix; wall time
// and the peak resident memory each render adds.
//
// Every case runs in a child process of its own, so that its peak resident size
// is its own: the child reports ru_maxrss after caching the sounds and after the
// render.
#include "platform/HeadlessConfig.h"

#include "BenchSupport.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <quorvalen_dsp.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
constexpr double rate = 48000.0;
constexpr int seconds = 10;

long maxRssKb()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

juce::MemoryBlock sound (double root, int seed)
{
    return qvbench::floatWav (qvbench::pitchedSound (root, seed, seconds, rate), rate);
}

int spectralEdit (int a, int)
{
    std::vector<float> points;
    std::vector<uint32_t> modes;
    juce::Random r (11);
    for (int i = 0; i < 200; ++i)
    {
        points.insert (points.end(),
                       { r.nextFloat(), r.nextFloat(), 0.02f + 0.1f * r.nextFloat(), 0.02f + 0.1f * r.nextFloat(),
                         r.nextFloat() });
        modes.push_back ((uint32_t) (i % 5));
    }
    return quorvalen_engine_create_cqt_spectral_edit (a, points.data(), modes.data(), (int32_t) modes.size());
}

int covalent (int a, int b)
{
    return quorvalen_engine_create_manifold_cqt_morph (a, b, 50.0f, 1, 120.0f, 1);
}
int mangle (int a, int b)
{
    return quorvalen_engine_create_reese_cqt_morph (a, b, 50.0f);
}

int manifold (int a, int b)
{
    const uint32_t ids[] = { (uint32_t) a, (uint32_t) b };
    const float gains[] = { 1.0f, 0.7f };
    const int32_t roles[] = { 0, 2 };
    return quorvalen_engine_create_manifold_classic (ids, gains, roles, 2, 0, 60.0f, 0.0f, 0, 0);
}

// The same mix cut to 1 s: only the first second of each source is resampled.
int manifoldShort (int a, int b)
{
    const uint32_t ids[] = { (uint32_t) a, (uint32_t) b };
    const float gains[] = { 1.0f, 0.7f };
    const int32_t roles[] = { 0, 2 };
    return quorvalen_engine_create_manifold_classic (ids, gains, roles, 2, 0, 60.0f, 1.0f, 0, 0);
}

struct Case
{
    const char* name;
    int (*render) (int, int);
};

void runCase (const Case& c, const juce::MemoryBlock& soundA, const juce::MemoryBlock& soundB)
{
    int pipeFds[2];
    if (pipe (pipeFds) != 0)
        return;
    const pid_t child = fork();
    if (child == 0)
    {
        close (pipeFds[0]);
        quorvalen::platform::setPlatformDeviceTypesEnabled (false);
        if (quorvalen_engine_init() != 0)
            _exit (1);
        const int a = quorvalen_engine_cache_wav_memory (soundA.getData(), soundA.getSize());
        const int b = quorvalen_engine_cache_wav_memory (soundB.getData(), soundB.getSize());
        const long before = maxRssKb();
        const auto t0 = Clock::now();
        const int id = c.render (a, b);
        const double wall = std::chrono::duration<double> (Clock::now() - t0).count();
        const long after = maxRssKb();
        char line[256];
        const int len = std::snprintf (line, sizeof line, "%-28s %8.2f s %8.1f x real time   +%5ld MB   (id %d)\n",
                                       c.name, wall, seconds / wall, (after - before) / 1024, id);
        (void) ! write (pipeFds[1], line, (size_t) len);
        quorvalen_engine_shutdown();
        _exit (0);
    }
    close (pipeFds[1]);
    char buffer[512] = {};
    const auto got = read (pipeFds[0], buffer, sizeof buffer - 1);
    close (pipeFds[0]);
    int status = 0;
    waitpid (child, &status, 0);
    std::fputs (got > 0 ? buffer : "(case failed)\n", stdout);
}
} // namespace

int main()
{
    const auto soundA = sound (110.0, 1);
    const auto soundB = sound (164.8, 2);
    std::printf ("Two %d s stereo sounds at 48 kHz; wall time of one render and the peak memory it adds:\n", seconds);
    for (const Case& c : { Case { "spectral edit, 200 brushes", spectralEdit }, Case { "covalent morph", covalent },
                           Case { "mangle (reese) morph", mangle }, Case { "manifold classic, 2 sources", manifold },
                           Case { "manifold classic, fixed 1 s", manifoldShort } })
        runCase (c, soundA, soundB);
    return 0;
}
