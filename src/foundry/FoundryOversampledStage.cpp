#include "foundry/FoundryOversampledStage.h"

#include "core/Units.h"

namespace quorvalen
{

void FoundryOversampledStage::prepareToPlay (int samplesPerBlock, double rate)
{
    sampleRate = usableRate (rate);
    blockSize = std::max (samplesPerBlock, 1);
    ChainStage::prepareToPlay (samplesPerBlock, rate);
    frame.prepare (blockSize);
    reset();
}

void FoundryOversampledStage::releaseResources()
{
    ChainStage::releaseResources();
    reset();
}

} // namespace quorvalen
