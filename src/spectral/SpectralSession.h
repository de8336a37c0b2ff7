#pragma once
// A spectral editing session on a private copy of a cached sound. Its contents
// arrive with the spectral editor; the engine already owns the session map.

namespace quorvalen
{

struct SpectralSession
{
};

} // namespace quorvalen
