// Offline rack render: wall time and added peak memory of a 60 s stereo 48 kHz
// render with every module on, with the finer pitch stage alone and with a 20x
// drone; and the stretch utility against the rubberband command-line tool on the
// same file and ratio with the same engine options.
//
// Every case runs in a child process of its own, so that its peak resident size
// is its own: the child reports ru_maxrss after caching the sound and after the
// render.
#include "dsp/stretch/StretchUtility.h"
#include "platform/HeadlessConfig.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <quorvalen_dsp.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
constexpr double rate = 48000.0;
constexpr int seconds = 60;
constexpr double stretchRatio = 1.5;

double since (Clock::time_point t0)
{
    return std::chrono::duration<double> (Clock::now() - t0).count();
}

long maxRssKb()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

const std::map<std::string, std::string>& cases()
{
    static const std::map<std::string, std::string> c {
        { "all", R"({"heatEnabled": true, "heatDrive": 50, "deEssEnabled": true, "filterMode": "BP", "filterLfo": 30,
                     "transientEnabled": true, "transientAttack": 4, "freqShiftEnabled": true, "freqShiftMode": "synth",
                     "freqShift": 3, "spectralDelayEnabled": true, "spaceEnabled": true, "stereoEnabled": true,
                     "stereoWidth": 3})" },
        { "pitch", R"({"freqShiftEnabled": true, "freqShiftMode": "synth", "freqShift": 3})" },
        { "drone20", R"({"freqShiftEnabled": true, "pitchAdvancedOpen": true, "droneStretch": 20})" },
    };
    return c;
}

void writeInput (const juce::File& file)
{
    juce::AudioBuffer<float> audio (2, (int) rate * seconds);
    juce::Random r (7);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < audio.getNumSamples(); ++i)
        {
            const double t = i / rate;
            audio.setSample (
                ch, i,
                (float) (0.3 * std::sin (2 * M_PI * 110 * t + ch) * (0.6 + 0.4 * std::sin (2 * M_PI * 0.5 * t))
                         + 0.15 * std::sin (2 * M_PI * 1320 * t) + 0.05 * (r.nextFloat() - 0.5f)));
        }
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> w (
        wav.createWriterFor (new juce::FileOutputStream (file), rate, 2, 24, {}, 0));
    w->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
}

void writeImpulseResponse (const juce::File& file)
{
    juce::AudioBuffer<float> ir (2, (int) rate * 2);
    juce::Random r (3);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < ir.getNumSamples(); ++i)
            ir.setSample (ch, i, (r.nextFloat() - 0.5f) * std::exp (-i / (0.4f * (float) rate)));
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> w (
        wav.createWriterFor (new juce::FileOutputStream (file), rate, 2, 24, {}, 0));
    w->writeFromAudioSampleBuffer (ir, 0, ir.getNumSamples());
}

juce::AudioBuffer<float> decode (const std::string& path)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (juce::File (path)));
    juce::AudioBuffer<float> b ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&b, 0, b.getNumSamples(), 0, true, true);
    return b;
}

// Child: one render case. Prints "seconds baselineKb peakKb".
int runRenderCase (const std::string& name, const std::string& input, const std::string& output)
{
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    if (quorvalen_engine_init() != 0)
        return 1;
    const int id = quorvalen_engine_cache_wav (input.c_str());
    if (id < 1)
        return 2;
    const long baseline = maxRssKb();
    const auto t0 = Clock::now();
    const int rc = quorvalen_engine_render_cached_with_processing (id, cases().at (name).c_str(), output.c_str());
    const double elapsed = since (t0);
    std::printf ("%f %ld %ld\n", elapsed, baseline, maxRssKb());
    quorvalen_engine_shutdown();
    return rc == 0 ? 0 : 3;
}

// Child: the stretch utility alone, and with decoding and 24-bit writing around it
// as the command-line tool does. Prints "stretchSeconds totalSeconds baselineKb peakKb".
int runStretchCase (const std::string& input, const std::string& output)
{
    const auto t0 = Clock::now();
    const auto source = decode (input);
    const long baseline = maxRssKb();
    juce::AudioBuffer<float> stretched;
    const auto t1 = Clock::now();
    if (! quorvalen::stretchBufferDefault (source, stretched, rate, stretchRatio))
        return 3;
    const double stretchOnly = since (t1);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> w (
        wav.createWriterFor (new juce::FileOutputStream (juce::File (output)), rate, 2, 24, {}, 0));
    w->writeFromAudioSampleBuffer (stretched, 0, stretched.getNumSamples());
    w.reset();
    std::printf ("%f %f %ld %ld\n", stretchOnly, since (t0), baseline, maxRssKb());
    return 0;
}

// Runs `program` with `args` (argv[0] included); returns its standard output and
// its peak resident size.
bool runChild (const char* program, const std::vector<std::string>& args, std::string& line, long& childMaxRssKb)
{
    int pipeFds[2];
    if (pipe (pipeFds) != 0)
        return false;
    const pid_t pid = fork();
    if (pid == 0)
    {
        dup2 (pipeFds[1], STDOUT_FILENO);
        close (pipeFds[0]);
        // The command-line tool reports its ratios on standard error even when quiet.
        if (std::strcmp (program, "rubberband") == 0)
            if (const int null = open ("/dev/null", O_WRONLY); null >= 0)
                dup2 (null, STDERR_FILENO);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back (const_cast<char*> (a.c_str()));
        argv.push_back (nullptr);
        execvp (program, argv.data());
        _exit (127);
    }
    close (pipeFds[1]);
    char buffer[512] {};
    line.clear();
    for (ssize_t got; (got = read (pipeFds[0], buffer, sizeof buffer - 1)) > 0;)
        line.append (buffer, (size_t) got);
    close (pipeFds[0]);
    int status = 0;
    rusage usage {};
    wait4 (pid, &status, 0, &usage);
    childMaxRssKb = usage.ru_maxrss;
    return WIFEXITED (status) && WEXITSTATUS (status) == 0;
}

double bestOf (int runs, const std::function<double()>& run)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i)
        best = std::min (best, run());
    return best;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc == 5 && std::strcmp (argv[1], "render") == 0)
        return runRenderCase (argv[2], argv[3], argv[4]);
    if (argc == 4 && std::strcmp (argv[1], "stretch") == 0)
        return runStretchCase (argv[2], argv[3]);

    const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qv-render-bench");
    dir.deleteRecursively();
    dir.getChildFile ("irs").createDirectory();
    writeImpulseResponse (dir.getChildFile ("irs").getChildFile ("hall.wav"));
    setenv ("QUORVALEN_IR_DIR", dir.getChildFile ("irs").getFullPathName().toRawUTF8(), 1);
    const auto input = dir.getChildFile ("in.wav").getFullPathName().toStdString();
    writeInput (juce::File (input));
    const auto out = dir.getChildFile ("out.wav").getFullPathName().toStdString();

    std::printf ("Offline rack render of 60 s stereo 48 kHz (best of 3 wall time; memory added by the render):\n");
    for (const auto* name : { "all", "pitch", "drone20" })
    {
        double best = 1e30;
        long added = 0;
        for (int run = 0; run < 3; ++run)
        {
            std::string line;
            long childRss = 0;
            if (! runChild ("/proc/self/exe", { argv[0], "render", name, input, out }, line, childRss))
            {
                std::printf ("  %-8s failed\n", name);
                break;
            }
            double t = 0;
            long baseline = 0, peak = 0;
            std::sscanf (line.c_str(), "%lf %ld %ld", &t, &baseline, &peak);
            if (t < best)
                best = t, added = peak - baseline;
        }
        std::printf ("  %-8s %7.2f s  (%6.1f x real time)  peak +%6.1f MB\n", name, best, seconds / best,
                     added / 1024.0);
    }

    std::printf ("Stretch x%.1f, finer engine, channels together, high-quality pitch (best of 3):\n", stretchRatio);
    double utilityStretch = 1e30, utilityTotal = 1e30;
    long utilityAdded = 0;
    for (int run = 0; run < 3; ++run)
    {
        std::string line;
        long childRss = 0;
        if (! runChild ("/proc/self/exe", { argv[0], "stretch", input, out }, line, childRss))
            return 1;
        double s = 0, t = 0;
        long baseline = 0, peak = 0;
        std::sscanf (line.c_str(), "%lf %lf %ld %ld", &s, &t, &baseline, &peak);
        utilityStretch = std::min (utilityStretch, s);
        if (t < utilityTotal)
            utilityTotal = t, utilityAdded = peak - baseline;
    }
    const auto cliOut = dir.getChildFile ("cli.wav").getFullPathName().toStdString();
    const std::vector<std::string> cli { "rubberband", "-3",
                                         "-q",         "--centre-focus",
                                         "--pitch-hq", "--ignore-clipping",
                                         "-t",         std::to_string (stretchRatio),
                                         input,        cliOut };
    long cliRss = 0;
    const double cliSeconds = bestOf (3, [&] {
        std::string ignored;
        const auto t0 = Clock::now();
        const bool ok = runChild ("rubberband", cli, ignored, cliRss);
        return ok ? since (t0) : 1e30;
    });
    std::printf (
        "  stretch utility      %6.2f s (stretch alone), %6.2f s with decode and 24-bit write, peak +%.1f MB\n",
        utilityStretch, utilityTotal, utilityAdded / 1024.0);
    std::printf ("  rubberband -3 (CLI)  %6.2f s, peak %.1f MB\n", cliSeconds, cliRss / 1024.0);
    std::printf ("  utility / CLI        %6.3f (with decode and write), %6.3f (stretch alone)\n",
                 utilityTotal / cliSeconds, utilityStretch / cliSeconds);

    dir.deleteRecursively();
    return 0;
}
