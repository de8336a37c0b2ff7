#pragma once
// Puts the engine on headless output devices only, with the given settings.
#include "platform/HeadlessConfig.h"

#include <chrono>
#include <functional>
#include <string>

namespace qvtest
{

void useHeadlessOnly (int devices = 1, double rate = 48000.0, int block = 512, int latency = 512);

// Polls `condition` every millisecond until it holds or `timeout` passes.
bool waitFor (const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// What a stream receives while the object lives: standard error (the engine's
// diagnostics) or standard output (the spectral log lines, flushed on finish).
class StreamCapture
{
public:
    enum class Stream
    {
        out,
        err
    };
    explicit StreamCapture (Stream which);
    ~StreamCapture();
    StreamCapture (const StreamCapture&) = delete;
    StreamCapture& operator= (const StreamCapture&) = delete;
    std::string finish();

private:
    Stream stream;
    bool active = true;
};

struct StderrCapture : StreamCapture
{
    StderrCapture() : StreamCapture (Stream::err) {}
};

struct StdoutCapture : StreamCapture
{
    StdoutCapture() : StreamCapture (Stream::out) {}
};

} // namespace qvtest
