#pragma once
// No exception may cross the C boundary: each export runs its body here and turns
// anything thrown into its own failure result after one log line.
#include "core/Log.h"

#include <cstdint>
#include <exception>
#include <utility>

namespace quorvalen
{

template <typename Result, typename Body>
Result guardedExport (const char* name, Result failure, Body&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::exception& e)
    {
        logLine ("[QUORVALEN API] %s failed: %s\n", name, e.what());
    }
    catch (...)
    {
        logLine ("[QUORVALEN API] %s failed: unknown exception\n", name);
    }
    return failure;
}

// An export whose operation answers with a named result: the result crosses the
// boundary as its number, and `failure` is what a thrown exception becomes.
template <typename Code, typename Body>
std::int32_t guardedCode (const char* name, Code failure, Body&& body) noexcept
{
    return static_cast<std::int32_t> (guardedExport (name, failure, std::forward<Body> (body)));
}

template <typename Body>
void guardedExportVoid (const char* name, Body&& body) noexcept
{
    guardedExport (name, 0, [&] {
        body();
        return 0;
    });
}

} // namespace quorvalen
