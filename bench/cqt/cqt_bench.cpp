// Constant-Q analysis and synthesis speed on mono 48 kHz white noise with the
// engine's scale (48 bands per octave from 20 Hz, reference 440 Hz), one thread.
// Each run builds a new analyzer and store, as the engine does on every call.
// Prints a markdown table: realtime factors (seconds of audio per CPU second),
// millions of samples per CPU second, store size per second of audio, the peak
// resident memory of the process for that case (each case runs in a child
// process of its own) and the largest reconstruction error relative to the peak.
#include "cqt/cqt.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace cqt = quorvalen::cqt;

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Result {
    double analysis, synthesis, firstAnalysis, storeBytes, error;
};

Result run(double overlap, double seconds) {
    constexpr double sr = 48000.0;
    cqt::CqtParams p;
    p.scale = {48, 20.0 / sr, 440.0 / sr};
    p.overlap = overlap;
    p.maxError = 1e-5;
    const auto n = static_cast<std::size_t>(seconds * sr);
    std::vector<float> x(n), y(n);
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (auto& v : x) v = u(rng);

    Result r{};
    std::vector<double> ta, ts;
    const int reps = std::max(3, static_cast<int>(30.0 / seconds));
    for (int i = 0; i <= reps; ++i) {
        const cqt::Analyzer an(p);
        cqt::CoefStore store(an);
        double t = cpuSeconds();
        an.analyze(x, store);
        const double a = cpuSeconds() - t;
        t = cpuSeconds();
        an.synthesize(store, 0, y);
        const double s = cpuSeconds() - t;
        if (i == 0) {
            // The first run at a new length also samples the windows for it.
            r.firstAnalysis = a;
            double bytes = 0.0, err = 0.0;
            for (int b = 0; b < store.bands(); ++b) bytes += static_cast<double>(store.band(b).size_bytes());
            for (std::size_t k = 0; k < n; ++k) err = std::max(err, static_cast<double>(std::fabs(y[k] - x[k])));
            r.storeBytes = bytes;
            r.error = err / 1.0;
        } else {
            ta.push_back(a);
            ts.push_back(s);
        }
    }
    r.analysis = median(ta);
    r.synthesis = median(ts);
    return r;
}

}  // namespace

int main() {
    std::printf("| overlap | sound | analysis (x realtime, Msamples/s) | synthesis (x realtime) | round trip (x realtime, "
                "Msamples/s) | first analysis at a new length | store per audio second | peak resident memory | "
                "max error / peak |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (const double overlap : {0.7, 0.85}) {
        for (const double seconds : {1.0, 10.0, 60.0}) {
            const pid_t child = fork();
            if (child == 0) {
                const Result r = run(overlap, seconds);
                const double samples = seconds * 48000.0;
                const double rt = r.analysis + r.synthesis;
                rusage ru{};
                getrusage(RUSAGE_SELF, &ru);
                std::printf("| %.2f | %g s | %.0f, %.1f | %.0f | %.0f, %.1f | %.3f s | %.2f MB | %.0f MB | %.1e |\n",
                            overlap, seconds, seconds / r.analysis, samples / r.analysis / 1e6, seconds / r.synthesis,
                            seconds / rt, samples / rt / 1e6, r.firstAnalysis, r.storeBytes / seconds / 1e6,
                            static_cast<double>(ru.ru_maxrss) / 1024.0, r.error);
                std::fflush(stdout);
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
        }
    }
}
