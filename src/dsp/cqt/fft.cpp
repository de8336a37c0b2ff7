#include "cqt/fft.h"

#include <fftw3.h>

#include <cstdint>

#include <list>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace quorvalen::cqt::detail
{

namespace
{

// Guards every call into FFTW's planners (creation and destruction of plans),
// both precisions: they share FFTW's non-thread-safe planner code.
std::mutex& plannerMutex()
{
    static std::mutex m;
    return m;
}

// Plans for the sizes used recently: a scale's block and band sizes. A plan
// holds twiddle tables of about its size, so the registry is bounded in bytes;
// holders of an evicted plan keep it alive until they finish.
template <class Real>
class PlanRegistry
{
public:
    // The planner's mutex must outlive the registry, whose plans take it when
    // they are destroyed at exit: construct it first.
    PlanRegistry() { plannerMutex(); }

    std::shared_ptr<const FftPlan<Real>> get (FftKind kind, std::size_t n, bool inPlace)
    {
        std::lock_guard lock (mutex_);
        const Key key { kind, n, inPlace };
        if (auto it = plans_.find (key); it != plans_.end())
        {
            order_.splice (order_.begin(), order_, it->second.second);
            return it->second.first;
        }
        auto plan = std::make_shared<const FftPlan<Real>> (kind, n, inPlace);
        order_.push_front (key);
        plans_.emplace (key, std::make_pair (plan, order_.begin()));
        bytes_ += bytes (key);
        while (plans_.size() > 1 && (plans_.size() > kMaxPlans || bytes_ > kMaxBytes))
        {
            bytes_ -= bytes (order_.back());
            plans_.erase (order_.back());
            order_.pop_back();
        }
        return plan;
    }

private:
    using Key = std::tuple<FftKind, std::size_t, bool>;
    static constexpr std::size_t kMaxPlans = 96;
    static constexpr std::size_t kMaxBytes = std::size_t { 128 } << 20;
    // A rough upper estimate of a plan's tables.
    static std::size_t bytes (const Key& key) { return 2 * sizeof (Real) * std::get<1> (key); }
    std::size_t bytes_ = 0;
    std::mutex mutex_;
    std::list<Key> order_;
    std::map<Key, std::pair<std::shared_ptr<const FftPlan<Real>>, std::list<Key>::iterator>> plans_;
};

// FFTW's API per precision.
template <class Real>
struct Fftw;

template <>
struct Fftw<double>
{
    using Complex = fftw_complex;
    using Plan = fftw_plan;
    static Complex* alloc (std::size_t n) { return fftw_alloc_complex (n); }
    static Plan dft (int n, Complex* in, Complex* out, int sign, unsigned flags)
    {
        return fftw_plan_dft_1d (n, in, out, sign, flags);
    }
    static Plan r2c (int n, double* in, Complex* out, unsigned flags)
    {
        return fftw_plan_dft_r2c_1d (n, in, out, flags);
    }
    static Plan c2r (int n, Complex* in, double* out, unsigned flags)
    {
        return fftw_plan_dft_c2r_1d (n, in, out, flags);
    }
    static void destroy (Plan p) { fftw_destroy_plan (p); }
    static void dft (Plan p, Complex* in, Complex* out) { fftw_execute_dft (p, in, out); }
    static void r2c (Plan p, double* in, Complex* out) { fftw_execute_dft_r2c (p, in, out); }
    static void c2r (Plan p, Complex* in, double* out) { fftw_execute_dft_c2r (p, in, out); }
};

template <>
struct Fftw<float>
{
    using Complex = fftwf_complex;
    using Plan = fftwf_plan;
    static Complex* alloc (std::size_t n) { return fftwf_alloc_complex (n); }
    static Plan dft (int n, Complex* in, Complex* out, int sign, unsigned flags)
    {
        return fftwf_plan_dft_1d (n, in, out, sign, flags);
    }
    static Plan r2c (int n, float* in, Complex* out, unsigned flags)
    {
        return fftwf_plan_dft_r2c_1d (n, in, out, flags);
    }
    static Plan c2r (int n, Complex* in, float* out, unsigned flags)
    {
        return fftwf_plan_dft_c2r_1d (n, in, out, flags);
    }
    static void destroy (Plan p) { fftwf_destroy_plan (p); }
    static void dft (Plan p, Complex* in, Complex* out) { fftwf_execute_dft (p, in, out); }
    static void r2c (Plan p, float* in, Complex* out) { fftwf_execute_dft_r2c (p, in, out); }
    static void c2r (Plan p, Complex* in, float* out) { fftwf_execute_dft_c2r (p, in, out); }
};

template <class Real>
typename Fftw<Real>::Complex* asFftw (std::complex<Real>* p)
{
    return reinterpret_cast<typename Fftw<Real>::Complex*> (p);
}

} // namespace

// fftw_free and fftwf_free are the same deallocator.
void FftwDeleter::operator() (void* p) const noexcept
{
    fftw_free (p);
}

template <class Real>
FftwArray<std::complex<Real>> allocComplex (std::size_t n)
{
    auto* p = Fftw<Real>::alloc (n ? n : 1);
    if (! p)
        throw std::bad_alloc();
    return FftwArray<std::complex<Real>> (reinterpret_cast<std::complex<Real>*> (p));
}

template <class Real>
FftwArray<Real> allocReal (std::size_t n)
{
    // Complex allocations of half the size: the same alignment, one allocator.
    auto c = allocComplex<Real> (n / 2 + 1);
    return FftwArray<Real> (reinterpret_cast<Real*> (c.release()));
}

template FftwArray<std::complex<double>> allocComplex<double> (std::size_t);
template FftwArray<std::complex<float>> allocComplex<float> (std::size_t);
template FftwArray<double> allocReal<double> (std::size_t);
template FftwArray<float> allocReal<float> (std::size_t);

template <class Real>
std::shared_ptr<const FftPlan<Real>> FftPlan<Real>::get (Kind kind, std::size_t n, bool inPlace)
{
    static PlanRegistry<Real> registry;
    return registry.get (kind, n, inPlace);
}

template <class Real>
FftPlan<Real>::FftPlan (Kind kind, std::size_t n, bool inPlace) : kind_ (kind), plan_ (nullptr)
{
    using F = Fftw<Real>;
    // Estimated plans: measuring costs 40 to 500 ms per size and kind, for 5 to
    // 15 % less time at the block and band sizes; the arrays only give alignment.
    const int size = static_cast<int> (n);
    const bool real = kind == Kind::RealToComplex || kind == Kind::ComplexToReal;
    auto c = allocComplex<Real> (real ? n / 2 + 1 : n);
    auto r = inPlace ? nullptr : allocReal<Real> (real ? n : 2 * n);
    auto* data = asFftw (c.get());
    auto* samples = inPlace ? reinterpret_cast<Real*> (c.get()) : r.get();
    std::lock_guard lock (plannerMutex());
    typename F::Plan plan = nullptr;
    switch (kind)
    {
        case Kind::Forward:
            plan = F::dft (size, data, inPlace ? data : asFftw (reinterpret_cast<std::complex<Real>*> (samples)),
                           FFTW_FORWARD, FFTW_ESTIMATE);
            break;
        case Kind::Backward:
            plan = F::dft (size, data, inPlace ? data : asFftw (reinterpret_cast<std::complex<Real>*> (samples)),
                           FFTW_BACKWARD, FFTW_ESTIMATE);
            break;
        case Kind::RealToComplex: plan = F::r2c (size, samples, data, FFTW_ESTIMATE); break;
        case Kind::ComplexToReal: plan = F::c2r (size, data, samples, FFTW_ESTIMATE); break;
    }
    if (! plan)
        throw std::bad_alloc();
    plan_ = plan;
}

template <class Real>
FftPlan<Real>::~FftPlan()
{
    std::lock_guard lock (plannerMutex());
    Fftw<Real>::destroy (static_cast<typename Fftw<Real>::Plan> (plan_));
}

template <class Real>
void FftPlan<Real>::run (std::complex<Real>* data) const
{
    using F = Fftw<Real>;
    auto plan = static_cast<typename F::Plan> (plan_);
    switch (kind_)
    {
        case Kind::Forward:
        case Kind::Backward: F::dft (plan, asFftw (data), asFftw (data)); break;
        case Kind::RealToComplex: F::r2c (plan, reinterpret_cast<Real*> (data), asFftw (data)); break;
        case Kind::ComplexToReal: F::c2r (plan, asFftw (data), reinterpret_cast<Real*> (data)); break;
    }
}

template <class Real>
void FftPlan<Real>::run (const std::complex<Real>* in, std::complex<Real>* out) const
{
    // FFTW leaves the input of an out-of-place complex transform untouched.
    Fftw<Real>::dft (static_cast<typename Fftw<Real>::Plan> (plan_), asFftw (const_cast<std::complex<Real>*> (in)),
                     asFftw (out));
}

template <class Real>
void FftPlan<Real>::run (Real* samples, std::complex<Real>* spectrum) const
{
    using F = Fftw<Real>;
    auto plan = static_cast<typename F::Plan> (plan_);
    if (kind_ == Kind::RealToComplex)
        F::r2c (plan, samples, asFftw (spectrum));
    else
        F::c2r (plan, asFftw (spectrum), samples);
}

template class FftPlan<double>;
template class FftPlan<float>;

} // namespace quorvalen::cqt::detail
