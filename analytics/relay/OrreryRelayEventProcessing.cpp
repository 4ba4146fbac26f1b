#include "analytics/relay/OrreryRelayEventProcessing.h"

#include <mutex>

namespace {
std::mutex processorMutex;
Ref<OrreryRelayEventProcessing>& processorSlot() {
    // Never destroyed: other threads may use it during exit.
    static Ref<OrreryRelayEventProcessing>& processor = *new Ref<OrreryRelayEventProcessing>();
    return processor;
}
}  // namespace

void OrreryRelayEventProcessing::setSharedProcessor(Ref<OrreryRelayEventProcessing> processor) {
    std::scoped_lock lock(processorMutex);
    processorSlot() = std::move(processor);
}

Ref<OrreryRelayEventProcessing> OrreryRelayEventProcessing::sharedProcessor() {
    std::scoped_lock lock(processorMutex);
    return processorSlot();
}
