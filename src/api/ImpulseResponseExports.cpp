// The space module's impulse-response queries. They touch no engine state, take no
// engine lock and need no device: each searches the folders again.
#include "api/ExportGuard.h"
#include "rack/ImpulseResponseLibrary.h"

#include <quorvalen_dsp.h>

#include <climits>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_get_space_ir_count (void)
{
    return guardedExport ("quorvalen_engine_get_space_ir_count", 0, [] {
        const auto count = listSpaceImpulseResponses().size();
        return (int32_t) std::min<std::size_t> (count, INT32_MAX);
    });
}

int32_t quorvalen_engine_get_space_ir_name (int32_t index, char* buffer, int32_t bufferSize)
{
    return guardedExport ("quorvalen_engine_get_space_ir_name", 0, [&] {
        if (index < 0)
            return 0;
        return copySpaceIrName (getSpaceIrNames(), index, buffer, bufferSize);
    });
}

} // extern "C"
