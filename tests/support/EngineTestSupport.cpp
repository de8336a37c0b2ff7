#include "EngineTestSupport.h"

#include <gtest/gtest.h>
#include <cstdio>
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

StreamCapture::StreamCapture (Stream which) : stream (which)
{
    if (stream == Stream::out)
        testing::internal::CaptureStdout();
    else
        testing::internal::CaptureStderr();
}

StreamCapture::~StreamCapture()
{
    if (active)
        finish();
}

std::string StreamCapture::finish()
{
    active = false;
    if (stream == Stream::err)
        return testing::internal::GetCapturedStderr();
    std::fflush (stdout);
    return testing::internal::GetCapturedStdout();
}

} // namespace qvtest
