// FFTW plans shared by every analyzer in the process.
//
// FFTW's planner is not thread-safe, so plans are created and destroyed under one
// mutex; executing a plan on new arrays is thread-safe, so callers run them
// concurrently. All arrays handed to a plan must come from allocComplex, which
// gives FFTW's SIMD alignment (the plans are made for it).
#pragma once

#include <complex>
#include <cstddef>
#include <memory>

namespace quorvalen::cqt::detail {

struct FftwDeleter {
    void operator()(void* p) const noexcept;
};
template <class T>
using FftwArray = std::unique_ptr<T[], FftwDeleter>;

FftwArray<std::complex<double>> allocComplex(std::size_t n);

class FftPlan {
public:
    enum class Kind { Forward, Backward, RealToComplex, ComplexToReal };

    // Unnormalised transforms of size n: Forward is sum x[t] e^(-2 pi i k t / n),
    // Backward the same with +i. All work in place; the real ones on an array of
    // n / 2 + 1 complex values that holds the n real samples at its start.
    static std::shared_ptr<const FftPlan> get(Kind kind, std::size_t n);

    void run(std::complex<double>* data) const;

    FftPlan(Kind kind, std::size_t n);
    ~FftPlan();
    FftPlan(const FftPlan&) = delete;
    FftPlan& operator=(const FftPlan&) = delete;

private:
    Kind kind_;
    void* plan_;
};

}  // namespace quorvalen::cqt::detail
