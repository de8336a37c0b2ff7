#include "EngineTestSupport.h"

#include <gtest/gtest.h>
#include <thread>

namespace qvtest
{

void useHeadlessOnly (int devices, double rate, int block, int latency)
{
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    quorvalen::platform::setHeadlessSettings ({ devices, rate, block, latency });
}

bool waitFor (const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (! condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
    return true;
}

StderrCapture::StderrCapture()
{
    testing::internal::CaptureStderr();
}

StderrCapture::~StderrCapture()
{
    if (active)
        testing::internal::GetCapturedStderr();
}

std::string StderrCapture::finish()
{
    active = false;
    return testing::internal::GetCapturedStderr();
}

} // namespace qvtest
