#include "cqt/fft.h"

#include <fftw3.h>

#include <list>
#include <map>
#include <mutex>
#include <new>
#include <utility>

namespace quorvalen::cqt::detail {

namespace {

// Guards every call into FFTW's planner (creation and destruction of plans).
std::mutex& plannerMutex() {
    static std::mutex m;
    return m;
}

// Plans for the sizes used recently. A plan holds twiddle tables of about its
// size (tens of megabytes for a minute of audio), and the sizes vary with signal
// length, so the registry is bounded in bytes; holders of an evicted plan keep it
// alive until they finish.
class PlanRegistry {
public:
    // The planner's mutex must outlive the registry, whose plans take it when
    // they are destroyed at exit: construct it first.
    PlanRegistry() { plannerMutex(); }

    std::shared_ptr<const FftPlan> get(FftPlan::Kind kind, std::size_t n) {
        std::lock_guard lock(mutex_);
        const Key key{kind, n};
        if (auto it = plans_.find(key); it != plans_.end()) {
            order_.splice(order_.begin(), order_, it->second.second);
            return it->second.first;
        }
        auto plan = std::make_shared<const FftPlan>(kind, n);
        order_.push_front(key);
        plans_.emplace(key, std::make_pair(plan, order_.begin()));
        bytes_ += bytes(key);
        while (plans_.size() > 1 && (plans_.size() > kMaxPlans || bytes_ > kMaxBytes)) {
            bytes_ -= bytes(order_.back());
            plans_.erase(order_.back());
            order_.pop_back();
        }
        return plan;
    }

private:
    using Key = std::pair<FftPlan::Kind, std::size_t>;
    static constexpr std::size_t kMaxPlans = 96;
    static constexpr std::size_t kMaxBytes = std::size_t{128} << 20;
    // A rough upper estimate of a plan's tables.
    static std::size_t bytes(const Key& key) { return 16 * key.second; }
    std::size_t bytes_ = 0;
    std::mutex mutex_;
    std::list<Key> order_;
    std::map<Key, std::pair<std::shared_ptr<const FftPlan>, std::list<Key>::iterator>> plans_;
};

fftw_complex* asFftw(std::complex<double>* p) { return reinterpret_cast<fftw_complex*>(p); }

}  // namespace

void FftwDeleter::operator()(void* p) const noexcept { fftw_free(p); }

FftwArray<std::complex<double>> allocComplex(std::size_t n) {
    auto* p = fftw_alloc_complex(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return FftwArray<std::complex<double>>(reinterpret_cast<std::complex<double>*>(p));
}

std::shared_ptr<const FftPlan> FftPlan::get(Kind kind, std::size_t n) {
    static PlanRegistry registry;
    return registry.get(kind, n);
}

FftPlan::FftPlan(Kind kind, std::size_t n) : kind_(kind), plan_(nullptr) {
    // Estimated plans: measuring would cost seconds for the large, length-dependent
    // sizes (and gains nothing on the small ones); the array only gives alignment.
    const int size = static_cast<int>(n);
    auto c = allocComplex(n);
    auto* data = asFftw(c.get());
    auto* real = reinterpret_cast<double*>(c.get());
    std::lock_guard lock(plannerMutex());
    switch (kind) {
    case Kind::Forward:
        plan_ = fftw_plan_dft_1d(size, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
        break;
    case Kind::Backward:
        plan_ = fftw_plan_dft_1d(size, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
        break;
    case Kind::RealToComplex:
        plan_ = fftw_plan_dft_r2c_1d(size, real, data, FFTW_ESTIMATE);
        break;
    case Kind::ComplexToReal:
        plan_ = fftw_plan_dft_c2r_1d(size, data, real, FFTW_ESTIMATE);
        break;
    }
    if (!plan_) throw std::bad_alloc();
}

FftPlan::~FftPlan() {
    std::lock_guard lock(plannerMutex());
    fftw_destroy_plan(static_cast<fftw_plan>(plan_));
}

void FftPlan::run(std::complex<double>* data) const {
    auto* plan = static_cast<fftw_plan>(plan_);
    switch (kind_) {
    case Kind::Forward:
    case Kind::Backward:
        fftw_execute_dft(plan, asFftw(data), asFftw(data));
        break;
    case Kind::RealToComplex:
        fftw_execute_dft_r2c(plan, reinterpret_cast<double*>(data), asFftw(data));
        break;
    case Kind::ComplexToReal:
        fftw_execute_dft_c2r(plan, asFftw(data), reinterpret_cast<double*>(data));
        break;
    }
}

}  // namespace quorvalen::cqt::detail
