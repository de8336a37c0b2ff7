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

// Lines of standard error written while the object lives.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    std::string finish();

private:
    bool active = true;
};

} // namespace qvtest
