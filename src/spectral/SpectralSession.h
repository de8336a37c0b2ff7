#pragma once
// A spectral editing session on a private 2-channel copy of a cached sound (the
// live copy, a cache entry of its own), with its STFT state and its undo and redo
// stacks of audio deltas.
#include "core/FairMutex.h"
#include "dsp/cqt/cqt.h"
#include "spectral/SpectralUndoRecord.h"

#include <atomic>
#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen
{

inline constexpr const char* spectralLiveLabel = "__native_web_stft_live_session__";
inline constexpr std::size_t spectralUndoLimit = 48;

// STFT state: 1024-point frames, frame f centred on sample f * hop, bins 0..512.
inline constexpr int stftSize = 1024;
inline constexpr int stftHop = 174;
inline constexpr int stftBinCount = stftSize / 2 + 1;

// Keeps a session's strokes, undos, redos and images in order (first come, first
// served), and tells an operation in flight that its session has ended. Only
// sessions outside the table are ever moved; a moved one keeps its flag.
struct SessionTurn
{
    // Taken before the engine lock, never while holding it.
    FairMutex lock;
    // Set with the engine lock held when the session leaves the table (ended,
    // cache cleared, engine shut down).
    std::atomic<bool> ended { false };

    SessionTurn() = default;
    SessionTurn (SessionTurn&& other) noexcept : ended (other.ended.load()) {}
    SessionTurn& operator= (SessionTurn&& other) noexcept
    {
        ended = other.ended.load();
        return *this;
    }
};

// The fields up to sampleRate are set before the session is added to the table
// and never change. Everything else belongs to the operation that holds `turn`.
struct SpectralSession
{
    std::uint32_t id = 0; // its key in the session table, for its log lines
    std::uint32_t sourceCacheId = 0;
    std::uint32_t liveCacheId = 0;
    std::int32_t numSamples = 0; // fixed for the session's life
    std::int32_t numChannels = 2;
    std::int32_t cqtFirstBand = 0;
    std::int32_t cqtBandCount = 0;
    double sampleRate = 0.0;
    std::vector<std::int32_t> bandTimeShift;
    std::vector<float> bandHz;
    // Kept from one constant-Q stroke to the next: built once, and the stores
    // hold only the coefficients the last stroke edited.
    std::unique_ptr<cqt::Analyzer> analyzer;
    std::vector<std::unique_ptr<cqt::CoefStore>> coefficients;
    cqt::Workspace cqtWork;

    // 0 frames (and no bins) until built, and again after a build failed.
    std::int32_t stftFrames = 0;
    std::vector<float> stftWindow;
    // Per channel, stftFrames x stftBinCount values, frame-major.
    std::vector<std::vector<std::complex<float>>> stftBins;

    float lockedDisplayReference = 0.0f;
    std::vector<SpectralUndoRecord> undoStack; // oldest first
    std::vector<SpectralUndoRecord> redoStack; // next to redo last

    SessionTurn turn;
};

} // namespace quorvalen
