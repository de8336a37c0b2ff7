#include "cqt/cqt.h"

#include "cqt/blocks.h"
#include "cqt/fft.h"
#include "cqt/plan.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace quorvalen::cqt
{

using detail::BandPlan;
using detail::IndexRange;
using detail::Level;
using detail::WorkState;

namespace
{

std::int64_t floorDiv (std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t ceilDiv (std::int64_t a, std::int64_t b)
{
    return -floorDiv (-a, b);
}

// A half-open range of times; empty when lo >= hi.
struct Span
{
    std::int64_t lo = 0, hi = 0;
    bool empty() const { return lo >= hi; }
    Span meet (Span o) const { return { std::max (lo, o.lo), std::min (hi, o.hi) }; }
};

// Maps a new store's pages in one call rather than one fault per page as
// analysis first writes them (a sixth less of the kernel's time). Ordinary
// pages, not huge ones: on virtual machines that hand freed memory back to the
// host, a process's first huge pages wait for the host (2.5 ns a byte against
// 0.4 for ordinary pages), which made a first call at a new length cost two to
// three repeated ones.
void prefault (void* p, std::size_t bytes) noexcept
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::size_t kMinBytes = std::size_t { 1 } << 20;
    if (bytes < kMinBytes)
        return;
    const auto page = static_cast<std::uintptr_t> (sysconf (_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t> (p);
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + bytes) / page * page;
    // Refused by kernels before 5.14: the pages then fault in as they are written.
    if (last > first)
        madvise (reinterpret_cast<void*> (first), last - first, MADV_POPULATE_WRITE);
#else
    (void) p;
    (void) bytes;
#endif
}

const detail::BandInfo& bandInfo (const BandPlan& plan, int band)
{
    if (band < 0 || band > plan.bandpass)
        throw Error ("cqt: band number out of range");
    return plan.bands[static_cast<std::size_t> (band)];
}

// What a store holds of one band: indices [first, first + count) at step 2^shift.
struct BandHeld
{
    std::int64_t first = 0, count = 0;
    int shift = 0;

    static BandHeld of (const CoefStore& store, int b)
    {
        return { store.firstIndex (b), static_cast<std::int64_t> (store.band (b).size()), store.timeShift (b) };
    }
    // Every coefficient whose time lies within the band's reach of a signal of
    // this length, or (bandTimes given) those of the band's part.
    static BandHeld of (const BandPlan& plan, std::size_t b, std::int64_t length,
                        const std::span<const TimeSpan>* bandTimes)
    {
        const int shift = plan.bands[b].shift;
        const std::int64_t reach = plan.bands[b].reach;
        std::int64_t first = length > 0 ? -(reach >> shift) : 0;
        std::int64_t last = length > 0 ? (length - 1 + reach) >> shift : -1;
        if (bandTimes != nullptr)
        {
            const TimeSpan part = b < bandTimes->size() ? (*bandTimes)[b] : TimeSpan {};
            const auto r =
                detail::indexRange (first, static_cast<std::size_t> (last - first + 1), shift, part.begin, part.end);
            first = r.begin;
            last = r.end - 1;
        }
        return { first, last - first + 1, shift };
    }
};

// Sorts spans and joins those that overlap or touch; drops empty ones.
std::vector<Span> joined (std::vector<Span> spans)
{
    std::erase_if (spans, [] (Span s) { return s.empty(); });
    std::sort (spans.begin(), spans.end(), [] (Span a, Span b) { return a.lo < b.lo; });
    std::vector<Span> out;
    for (const Span s : spans)
    {
        if (! out.empty() && s.lo <= out.back().hi)
            out.back().hi = std::max (out.back().hi, s.hi);
        else
            out.push_back (s);
    }
    return out;
}

// Block ranges of one level, in time order and apart: blocks [lo, hi) of each.
using BlockRanges = std::vector<Span>;

// The blocks of each level that an analysis of a signal of this length runs:
// those that hold its bands' coefficients (held(b)) and those whose decimated
// output the next level's blocks read (where it is not zero), found from the
// last level up. Parts far apart give ranges apart: a level runs no blocks
// between them. A block of the next level reads within the blocks of one
// range here (its bands' own needs lie within the signal's support and the
// margins, as the reads do), so its input never spans a stretch skipped here.
template <class Held>
std::vector<BlockRanges> planBlocks (const BandPlan& plan, std::int64_t length, Held&& held)
{
    const auto& levels = plan.levels;
    std::vector<Span> support (levels.size());
    support[0] = { 0, length };
    for (std::size_t l = 1; l < levels.size(); ++l)
    {
        const std::int64_t reach = levels[l - 1].margin;
        support[l] = { floorDiv (support[l - 1].lo - reach, 2), ceilDiv (support[l - 1].hi + reach, 2) };
    }
    std::vector<BlockRanges> blocks (levels.size());
    std::vector<Span> below; // the next level's reads, in its samples
    for (std::size_t l = levels.size(); l-- > 0;)
    {
        const Level& lv = levels[l];
        std::vector<Span> need;
        for (int b = lv.bandBegin; b < lv.bandEnd; ++b)
        {
            const BandHeld h = held (static_cast<std::size_t> (b));
            // A band that holds nothing needs no block (its first index, wherever
            // it lies, would otherwise pull blocks in around it).
            if (h.count <= 0)
                continue;
            const std::int64_t first = h.first << h.shift;
            const std::int64_t last = (h.first + h.count) << h.shift;
            need.push_back ({ first >> lv.level, detail::ceilShift (last, lv.level) });
        }
        const Span around { support[l].lo - lv.margin, support[l].hi + lv.margin };
        for (const Span s : below)
            need.push_back (Span { 2 * s.lo, 2 * s.hi }.meet (around));
        std::erase_if (need, [] (Span s) { return s.empty(); });
        for (Span& s : need)
            s = { floorDiv (s.lo, lv.keep), ceilDiv (s.hi, lv.keep) };
        blocks[l] = joined (std::move (need));
        below.clear();
        // Block j reads [j keep - margin, (j + 1) keep + margin).
        for (const Span r : blocks[l])
            below.push_back ({ r.lo * lv.keep - lv.margin, r.hi * lv.keep + lv.margin });
    }
    return blocks;
}

// Analysis runs the levels as a pipeline: each block of a level hands its
// kept middle, decimated, to the next level's stream, which runs every block
// whose samples are then complete. Scratch stays at a few blocks per level.
class AnalysisRun
{
public:
    // signal holds samples [signalStart, signalStart + size) of a signal of
    // length samples: at least those that the blocks read.
    AnalysisRun (const BandPlan& plan, std::span<const float> signal, std::int64_t signalStart, std::int64_t length,
                 CoefStore& store, WorkState& work)
            : plan_ (plan), signal_ (signal), signalStart_ (signalStart), length_ (length), store_ (store), work_ (work)
    {}

    void run()
    {
        blocks_ = planBlocks (plan_, length_, [this] (std::size_t b) { return BandHeld::of (store_, (int) b); });
        cursors_.assign (blocks_.size(), {});
        for (std::size_t l = 0; l < blocks_.size(); ++l)
            cursors_[l].next = blocks_[l].empty() ? 0 : blocks_[l].front().lo;
        const Level& top = plan_.levels[0];
        for (; pending (0); advance (0))
            block (top, cursors_[0].next);
        for (std::size_t l = 1; l < plan_.levels.size(); ++l)
            pump (l, true);
    }

private:
    // The next block a level runs: block `next` of its range `range`.
    struct Cursor
    {
        std::size_t range = 0;
        std::int64_t next = 0;
    };

    bool pending (std::size_t l) const { return cursors_[l].range < blocks_[l].size(); }

    void advance (std::size_t l)
    {
        Cursor& c = cursors_[l];
        if (++c.next < blocks_[l][c.range].hi)
            return;
        if (++c.range < blocks_[l].size())
            c.next = blocks_[l][c.range].lo;
    }

    std::int64_t pendingOrigin (std::size_t l) const
    {
        const Level& lv = plan_.levels[l];
        return cursors_[l].next * lv.keep - lv.margin;
    }

    // Drops what no block of the level left to run reads.
    void dropRead (std::size_t l)
    {
        detail::Stream& s = work_.streams[l];
        s.drop (pending (l) ? pendingOrigin (l) : s.end());
    }

    void block (const Level& lv, std::int64_t j)
    {
        const std::int64_t origin = j * lv.keep - lv.margin;
        const std::int64_t n = lv.size;
        detail::Real* x = work_.samples();
        bool live;
        if (lv.level == 0)
        {
            const std::int64_t b = std::clamp<std::int64_t> (-origin, 0, n);
            const std::int64_t e = std::clamp<std::int64_t> (length_ - origin, b, n);
            live = e > b;
            if (live)
            {
                // Non-finite samples count as 0.
                std::fill (x, x + b, detail::Real {});
                for (std::int64_t i = b; i < e; ++i)
                {
                    const float v = signal_[static_cast<std::size_t> (origin + i - signalStart_)];
                    x[i] = std::isfinite (v) ? v : 0.0f;
                }
                std::fill (x + e, x + n, detail::Real {});
            }
        }
        else
        {
            live = work_.streams[static_cast<std::size_t> (lv.level)].read (origin, n, x);
        }
        const bool hasNext = ! lv.toNext.empty();
        const std::int64_t keptNext = (origin + lv.margin) / 2;
        if (! live)
        {
            // Zeros in, zeros out.
            detail::clearBands (lv, origin, store_);
            if (hasNext)
                push (static_cast<std::size_t> (lv.level) + 1, keptNext, nullptr, lv.keep / 2);
            return;
        }
        work_.ffts[static_cast<std::size_t> (lv.level)].toSpectrum->run (work_.spectrum.get());
        detail::analyzeBands (plan_, lv, origin, store_, work_);
        if (! hasNext)
            return;
        detail::decimate (lv, work_);
        push (static_cast<std::size_t> (lv.level) + 1, keptNext, work_.halfSamples() + lv.margin / 2, lv.keep / 2);
    }

    void push (std::size_t l, std::int64_t t, const detail::Real* x, std::int64_t count)
    {
        detail::Stream& s = work_.streams[l];
        // Samples before the level's next block are read by none: the level
        // above may run blocks of its own long before this level needs any.
        // Where the level above skips a stretch, what was read before it has
        // gone by then (see planBlocks).
        dropRead (l);
        if (! pending (l))
            return;
        if (x)
            s.append (t, x, count);
        else
            s.appendZeros (t, count);
        pump (l, false);
    }

    // Runs the level's blocks whose samples are all in (or, once the level
    // above has finished, all of them).
    void pump (std::size_t l, bool finished)
    {
        const Level& lv = plan_.levels[l];
        const detail::Stream& s = work_.streams[l];
        for (; pending (l); advance (l))
        {
            if (! finished && pendingOrigin (l) + lv.size > s.end())
                break;
            block (lv, cursors_[l].next);
        }
        dropRead (l);
    }

    const BandPlan& plan_;
    std::span<const float> signal_;
    std::int64_t signalStart_, length_;
    CoefStore& store_;
    WorkState& work_;
    std::vector<BlockRanges> blocks_;
    std::vector<Cursor> cursors_;
};

// Synthesis pulls: a block of a level asks the next level for its output over
// the block's span, which runs the blocks that cover it, and so on down.
class SynthesisRun
{
public:
    SynthesisRun (const BandPlan& plan, const CoefStore& store, WorkState& work)
            : plan_ (plan), store_ (store), work_ (work)
    {}

    void run (std::int64_t t0, std::span<float> out)
    {
        const Level& top = plan_.levels[0];
        const auto t1 = t0 + static_cast<std::int64_t> (out.size());
        for (std::int64_t j = floorDiv (t0, top.keep); j * top.keep < t1; ++j)
        {
            const std::int64_t kept = j * top.keep;
            const std::int64_t b = std::max (kept, t0), e = std::min (kept + top.keep, t1);
            float* dst = out.data() + (b - t0);
            if (block (top, j))
            {
                const detail::Real* y = work_.samples() + (b - kept + top.margin);
                std::transform (y, y + (e - b), dst, [] (detail::Real v) { return static_cast<float> (v); });
            }
            else
            {
                std::fill (dst, dst + (e - b), 0.0f);
            }
        }
    }

private:
    // Synthesises block j into work_.samples(); false when it is all zeros.
    bool block (const Level& lv, std::int64_t j)
    {
        const std::int64_t origin = j * lv.keep - lv.margin;
        const auto next = static_cast<std::size_t> (lv.level) + 1;
        bool lower = false;
        if (! lv.toNext.empty())
        {
            const std::int64_t a = origin / 2, count = lv.size / 2;
            produce (next, a, a + count);
            lower = work_.streams[next].read (a, count, work_.halfSamples());
            work_.streams[next].drop (a);
        }
        if (! lower && ! detail::hasCoefficients (plan_, lv, origin, store_))
            return false;
        detail::synthesizeBlock (plan_, lv, origin, store_, lower, work_);
        return true;
    }

    // Makes level l's output available over [a, b).
    void produce (std::size_t l, std::int64_t a, std::int64_t b)
    {
        const Level& lv = plan_.levels[l];
        detail::Stream& s = work_.streams[l];
        if (! work_.started[l])
        {
            work_.started[l] = true;
            work_.next[l] = floorDiv (a, lv.keep);
        }
        for (; work_.next[l] * lv.keep < b; ++work_.next[l])
        {
            const std::int64_t kept = work_.next[l] * lv.keep;
            if (block (lv, work_.next[l]))
                s.append (kept, work_.samples() + lv.margin, lv.keep);
            else
                s.appendZeros (kept, lv.keep);
        }
    }

    const BandPlan& plan_;
    const CoefStore& store_;
    WorkState& work_;
};

} // namespace

Analyzer::Analyzer (const CqtParams& params) : params_ (params), plan_ (detail::bandPlan (params)) {}

int Analyzer::bandCount() const noexcept
{
    return plan_->bandpass;
}

double Analyzer::bandCentre (int band) const
{
    return bandInfo (*plan_, band).centre;
}

int Analyzer::bandTimeShift (int band) const
{
    return bandInfo (*plan_, band).shift;
}

double Analyzer::bandSupport (int band, double factor) const
{
    return static_cast<double> (bandInfo (*plan_, band).support) * factor;
}

void Analyzer::analyze (std::span<const float> signal, CoefStore& out) const
{
    Workspace work;
    analyze (signal, out, work);
}

void Analyzer::analyze (std::span<const float> signal, CoefStore& out, Workspace& work) const
{
    analyzeInto (signal, 0, static_cast<std::int64_t> (signal.size()), nullptr, out, work);
}

void Analyzer::analyze (std::span<const float> signal, std::span<const TimeSpan> bandTimes, CoefStore& out,
                        Workspace& work) const
{
    analyzeInto (signal, 0, static_cast<std::int64_t> (signal.size()), &bandTimes, out, work);
}

TimeSpan Analyzer::analysisInput (std::int64_t length, std::span<const TimeSpan> bandTimes) const
{
    const BandPlan& plan = *plan_;
    if (length <= 0)
        return {};
    std::vector<BandHeld> held (plan.bands.size());
    std::int64_t count = 0;
    for (std::size_t b = 0; b < held.size(); ++b)
    {
        held[b] = BandHeld::of (plan, b, length, &bandTimes);
        count += held[b].count;
    }
    if (count == 0)
        return {};
    const auto blocks = planBlocks (plan, length, [&] (std::size_t b) { return held[b]; });
    const Level& top = plan.levels[0];
    if (blocks[0].empty())
        return {};
    // Block j of the first level reads [j keep - margin, (j + 1) keep + margin).
    return { std::max<std::int64_t> (0, blocks[0].front().lo * top.keep - top.margin),
             std::min (length, blocks[0].back().hi * top.keep + top.margin) };
}

void Analyzer::analyze (std::span<const float> window, std::int64_t windowStart, std::int64_t length,
                        std::span<const TimeSpan> bandTimes, CoefStore& out, Workspace& work) const
{
    const TimeSpan input = analysisInput (length, bandTimes);
    if (input.begin < input.end
        && (input.begin < windowStart || input.end > windowStart + static_cast<std::int64_t> (window.size())))
        throw Error ("cqt: the window does not hold the samples the analysis reads");
    analyzeInto (window, windowStart, length, &bandTimes, out, work);
}

void Analyzer::analyzeInto (std::span<const float> signal, std::int64_t signalStart, std::int64_t length,
                            const std::span<const TimeSpan>* bandTimes, CoefStore& out, Workspace& work) const
{
    if (! detail::sameScale (out.plan_->params, plan_->params))
        throw Error ("cqt: the store belongs to an analyzer with other parameters");
    // The blocks analysed are those the stored coefficients need, each on the
    // same grid as in a whole analysis: a part comes out as the whole would.
    out.layout (length, bandTimes);
    if (length <= 0 || out.offset_.back() == 0)
        return;
    work.state_->prepare (plan_);
    // A store larger than the caches is written past them.
    constexpr std::size_t kCachedStoreBytes = std::size_t { 32 } << 20;
    work.state_->streamStores = out.offset_.back() * sizeof (std::complex<float>) > kCachedStoreBytes;
    AnalysisRun (*plan_, signal, signalStart, length, out, *work.state_).run();
    if (work.state_->streamStores)
        detail::storeFence();
}

void Analyzer::synthesize (const CoefStore& coefs, std::int64_t t0, std::span<float> out) const
{
    Workspace work;
    synthesize (coefs, t0, out, work);
}

void Analyzer::synthesize (const CoefStore& coefs, std::int64_t t0, std::span<float> out, Workspace& work) const
{
    if (! params_.resynthesis)
        throw Error ("cqt: this analyzer was built for analysis only");
    if (! detail::sameScale (coefs.plan_->params, plan_->params))
        throw Error ("cqt: the store belongs to an analyzer with other parameters");
    if (out.empty())
        return;
    const std::int64_t length = coefs.length_;
    const std::int64_t t1 = t0 + static_cast<std::int64_t> (out.size());
    const std::int64_t reach = plan_->maxReach;
    // Nothing reaches this far from the stored coefficients.
    if (length == 0 || t1 <= -2 * reach || t0 >= length + 2 * reach)
    {
        std::fill (out.begin(), out.end(), 0.0f);
        return;
    }
    work.state_->prepare (plan_);
    SynthesisRun (*plan_, coefs, *work.state_).run (t0, out);
}

Workspace::Workspace() : state_ (std::make_unique<WorkState>()) {}
Workspace::~Workspace() = default;
Workspace::Workspace (Workspace&&) noexcept = default;
Workspace& Workspace::operator= (Workspace&&) noexcept = default;
std::size_t Workspace::bytes() const noexcept
{
    return state_ ? state_->bytes() : 0;
}

CoefStore::CoefStore (const Analyzer& analyzer) : plan_ (analyzer.plan_)
{
    layout (0);
}

bool CoefStore::sameLayout (const CoefStore& other) const noexcept
{
    return length_ == other.length_ && detail::sameScale (plan_->params, other.plan_->params) && first_ == other.first_
        && offset_ == other.offset_;
}

void CoefStore::layout (std::int64_t length, const std::span<const TimeSpan>* bandTimes)
{
    const BandPlan& plan = *plan_;
    const std::size_t bands = plan.bands.size();
    if (bandTimes == nullptr && whole_ && length == length_ && offset_.size() == bands + 1)
        return;
    length_ = length;
    whole_ = bandTimes == nullptr;
    shift_.resize (bands);
    first_.resize (bands);
    offset_.assign (bands + 1, 0);
    for (std::size_t b = 0; b < bands; ++b)
    {
        const BandHeld held = BandHeld::of (plan, b, length, bandTimes);
        shift_[b] = held.shift;
        first_[b] = held.first;
        offset_[b + 1] = offset_[b] + static_cast<std::size_t> (held.count);
    }
    // Left uninitialised: analysis writes every coefficient.
    data_.reset (offset_.back());
}

void CoefStore::Buffer::reset (std::size_t size)
{
    // A store analysed again (an editor keeps one per sound) keeps its memory:
    // fresh pages cost the kernel about as much to supply as analysis to fill.
    if (size <= capacity_ && 2 * size >= capacity_)
    {
        size_ = size;
        return;
    }
    std::free (data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
    if (size == 0)
        return;
    const std::size_t bytes = size * sizeof (std::complex<float>);
    data_ = static_cast<std::complex<float>*> (std::malloc (bytes));
    if (! data_)
        throw std::bad_alloc();
    prefault (data_, bytes);
    size_ = capacity_ = size;
}

CoefStore::Buffer::Buffer (const Buffer& other)
{
    reset (other.size_);
    if (size_)
        std::memcpy (data_, other.data_, size_ * sizeof (std::complex<float>));
}

CoefStore::Buffer& CoefStore::Buffer::operator= (const Buffer& other)
{
    if (this != &other)
    {
        reset (other.size_);
        if (size_)
            std::memcpy (data_, other.data_, size_ * sizeof (std::complex<float>));
    }
    return *this;
}

CoefStore::Buffer::Buffer (Buffer&& other) noexcept
        : data_ (std::exchange (other.data_, nullptr)), size_ (std::exchange (other.size_, 0)),
          capacity_ (std::exchange (other.capacity_, 0))
{}

CoefStore::Buffer& CoefStore::Buffer::operator= (Buffer&& other) noexcept
{
    if (this != &other)
    {
        std::free (data_);
        data_ = std::exchange (other.data_, nullptr);
        size_ = std::exchange (other.size_, 0);
        capacity_ = std::exchange (other.capacity_, 0);
    }
    return *this;
}

CoefStore::Buffer::~Buffer()
{
    std::free (data_);
}

} // namespace quorvalen::cqt
