#pragma once
// The last completed Foundry preview. Its record is filled in with the preview
// renderer; the engine already owns and resets it.

namespace quorvalen
{

struct FoundryPreviewCache
{
};

} // namespace quorvalen
