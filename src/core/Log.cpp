#include "core/Log.h"

#include <cstdarg>
#include <cstdio>

namespace quorvalen
{

void logLine (const char* format, ...)
{
    va_list args;
    va_start (args, format);
    std::vfprintf (stderr, format, args);
    va_end (args);
    std::fflush (stderr);
}

void logLineNoFlush (const char* format, ...)
{
    va_list args;
    va_start (args, format);
    std::vfprintf (stderr, format, args);
    va_end (args);
}

void logOut (const char* format, ...)
{
    va_list args;
    va_start (args, format);
    std::vfprintf (stdout, format, args);
    va_end (args);
}

} // namespace quorvalen
