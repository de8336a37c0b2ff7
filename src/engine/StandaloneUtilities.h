#pragma once
// Utilities that never touch the engine object: each device utility builds and
// tears down its own initialiser and device manager within the call.

namespace quorvalen
{

void applyGain (float* samples, int count, float gain);
int playWavBlocking (const char* path);
int playTestTone();

} // namespace quorvalen
