// FFTW plans shared by every analyzer in the process, in double and single
// precision.
//
// FFTW's planner is not thread-safe, so plans are created and destroyed under one
// mutex; executing a plan on new arrays is thread-safe, so callers run them
// concurrently. All arrays handed to a plan must come from allocComplex, which
// gives FFTW's SIMD alignment (the plans are made for it).
#pragma once

#include <complex>
#include <cstddef>
#include <memory>

namespace quorvalen::cqt::detail
{

struct FftwDeleter
{
    void operator() (void* p) const noexcept;
};
template <class T>
using FftwArray = std::unique_ptr<T[], FftwDeleter>;

template <class Real = double>
FftwArray<std::complex<Real>> allocComplex (std::size_t n);
template <class Real>
FftwArray<Real> allocReal (std::size_t n);

enum class FftKind
{
    Forward,
    Backward,
    RealToComplex,
    ComplexToReal
};

template <class Real>
class FftPlan
{
public:
    using Kind = FftKind;

    // Unnormalised transforms of size n: Forward is sum x[t] e^(-2 pi i k t / n),
    // Backward the same with +i. In place, the real ones work on an array of
    // n / 2 + 1 complex values that holds the n real samples at its start. Out
    // of place is faster: for complex transforms by a tenth or more at the band
    // sizes, for real ones at millions of samples.
    static std::shared_ptr<const FftPlan> get (Kind kind, std::size_t n, bool inPlace = true);

    // In place.
    void run (std::complex<Real>* data) const;
    // Out of place, complex transforms.
    void run (const std::complex<Real>* in, std::complex<Real>* out) const;
    // Out of place, real transforms: RealToComplex reads samples and writes
    // spectrum, ComplexToReal the reverse (and overwrites spectrum).
    void run (Real* samples, std::complex<Real>* spectrum) const;

    FftPlan (Kind kind, std::size_t n, bool inPlace);

    ~FftPlan();
    FftPlan (const FftPlan&) = delete;
    FftPlan& operator= (const FftPlan&) = delete;

private:
    Kind kind_;
    void* plan_;
};

extern template class FftPlan<double>;
extern template class FftPlan<float>;

} // namespace quorvalen::cqt::detail
