#pragma once
// Strict UTF-8 check for text that crosses the C boundary, run before any
// conversion: the audio library's string walkers assume well-formed input.
namespace quorvalen::io
{

// True for a null-terminated string of well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF). False for null.
bool isValidUtf8 (const char* text) noexcept;

// The text itself when it is valid UTF-8, else null: callers then answer with the
// code they give a null pointer.
inline const char* validUtf8OrNull (const char* text) noexcept
{
    return isValidUtf8 (text) ? text : nullptr;
}

} // namespace quorvalen::io
