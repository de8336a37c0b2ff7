#pragma once
// No exception may cross the C boundary: each export runs its body here and turns
// anything thrown into its own failure result after one log line.
#include "core/Log.h"

#include <exception>

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

template <typename Body>
void guardedExportVoid (const char* name, Body&& body) noexcept
{
    guardedExport (name, 0, [&] { body(); return 0; });
}

} // namespace quorvalen
