#pragma once
// Diagnostic lines: printf-formatted, one line per call, opened by a tag in
// square brackets.

namespace quorvalen
{

// Standard error, flushed after the line.
void logLine (const char* format, ...) __attribute__ ((format (printf, 1, 2)));
// Standard error, without a flush of its own.
void logLineNoFlush (const char* format, ...) __attribute__ ((format (printf, 1, 2)));
// Standard output, without a flush.
void logOut (const char* format, ...) __attribute__ ((format (printf, 1, 2)));

} // namespace quorvalen
