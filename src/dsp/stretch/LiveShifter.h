#pragma once
// A block-in, block-out live pitch shifter over the stretcher's real-time mode.
//
// The rack's frequency shifter wants a fixed block of 512 frames in and exactly 512
// out per call, with a start delay it can compensate on its dry path. The stretcher
// instead takes and returns whatever its hops allow, so this class primes its start
// padding, keeps an output ring prefilled by the start delay, and trims the
// stretcher's time ratio a little when pitch jumps make it drift off that fill.
// The reported delay is exact from the start and while the pitch holds or glides;
// abrupt jumps can leave the output up to a few hundred frames early.
//
// Construction and destruction allocate or free and belong on a host thread. shift,
// setPitchScale and reset allocate nothing, lock nothing and log nothing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace RubberBand
{
class RubberBandStretcher;
}

namespace quorvalen::platform
{

class LiveShifter
{
public:
    // Our own option bits; they are translated, never handed to the stretcher as is.
    enum Option : int
    {
        channelsApart = 0,
        channelsTogether = 1 << 0, // stereo as mid and side: steadier image
        windowShort = 0,
        windowMedium = 1 << 1, // longer analysis window: smoother, more delay, more CPU
    };

    static constexpr int blockFrames = 512;
    static constexpr double minSampleRate = 8000.0;
    static constexpr double maxSampleRate = 192000.0;
    static constexpr int maxChannels = 2;
    static constexpr double maxPitchScale = 2.0;

    // Outside 8 kHz..192 kHz or 1..2 channels the shifter is inert: getBlockSize() is 0.
    LiveShifter (double sampleRate, int channels, int options);
    ~LiveShifter();

    LiveShifter (const LiveShifter&) = delete;
    LiveShifter& operator= (const LiveShifter&) = delete;

    // Frequency ratio; non-finite or non-positive values are ignored, others held
    // within an octave either way (the range the start delay is sized for) and
    // rounded so that 1 / scale is a multiple of 1/2048. Before the first shift after
    // construction or reset it also re-primes, so the start delay holds for this
    // ratio; later it applies at once.
    void setPitchScale (double scale) noexcept;
    double getPitchScale() const noexcept { return pitchScale; }

    // 512, or 0 when the shifter is inert.
    int getBlockSize() const noexcept { return stretcher != nullptr ? blockFrames : 0; }
    // Frames from an input sample to the same sample at the output.
    int getStartDelay() const noexcept { return stretcher != nullptr ? startDelay : 0; }
    int getChannelCount() const noexcept { return channelCount; }

    // Consumes getBlockSize() frames per channel and writes as many. Non-finite
    // input samples enter as silence. An inert shifter writes silence.
    void shift (const float* const* input, float* const* output) noexcept;

    // Back to the freshly constructed state (same ratio), ring prefilled again.
    void reset() noexcept;

    // Blocks whose output had to be padded with silence since the last reset.
    std::uint64_t getUnderrunCount() const noexcept { return underruns; }

private:
    static constexpr double ratioGrid = 2048.0;
    static double quantisePitchScale (double scale) noexcept;
    void prime() noexcept;
    void pullOutput() noexcept;
    void steerTimeRatio() noexcept;
    std::size_t ringFill() const noexcept { return ringCount; }

    std::unique_ptr<RubberBand::RubberBandStretcher> stretcher;
    int channelCount = 0;
    double pitchScale = 1.0;
    int startDelay = 0;        // == the ring's prefill
    std::size_t lowWater = 0;  // below this the ring is about to run dry
    std::size_t refill = 0;    // a refill ends here
    std::size_t highWater = 0; // above this output is piling up
    bool started = false;      // a block has been shifted since priming

    // Output ring, one vector per channel.
    std::vector<std::vector<float>> ring;
    std::size_t ringSize = 0, ringRead = 0, ringCount = 0;
    std::size_t discard = 0; // stretcher output still to drop for alignment

    std::vector<std::vector<float>> scratch; // retrieve target and input staging
    std::vector<std::vector<float>> staged;
    std::vector<float*> scratchPtrs;
    std::vector<const float*> stagedPtrs;

    enum class Steering
    {
        none,
        refilling,
        draining
    };
    Steering steering = Steering::none;
    double timeRatio = 1.0;
    std::uint64_t underruns = 0;
};

} // namespace quorvalen::platform
