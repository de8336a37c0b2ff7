#pragma once
// The tests' one noise source. Standard library only, so the test that links the
// shared library as a host does can use it too. The same seed gives the same
// values on every machine and standard library (the std distributions are not
// pinned down), so a failing case replays exactly.
#include <cstdint>
#include <vector>

namespace qvtest
{

// Uniform draws in [-1, 1), one by one (splitmix64: any seed, zero included, is fine).
class NoiseStream
{
public:
    explicit NoiseStream (std::uint64_t seed) noexcept : state (seed) {}

    float next() noexcept
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        return (float) (z >> 40) * 0x1p-23f - 1.0f; // 24 bits, exact in a float
    }

    // A draw in [lo, hi].
    float between (float lo, float hi) noexcept { return lo + (hi - lo) * 0.5f * (next() + 1.0f); }

private:
    std::uint64_t state;
};

// `count` samples of white noise in [-amplitude, amplitude).
inline std::vector<float> testNoise (int count, std::uint64_t seed, float amplitude = 1.0f)
{
    NoiseStream stream (seed);
    std::vector<float> x ((std::size_t) (count > 0 ? count : 0));
    for (auto& v : x)
        v = amplitude * stream.next();
    return x;
}

} // namespace qvtest
