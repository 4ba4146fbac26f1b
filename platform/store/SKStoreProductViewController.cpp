#include "platform/store/SKStoreProductViewController.h"

#include <deque>
#include <mutex>
#include <optional>

#include "platform/foundation/DeviceProfile.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"
#include "platform/runtime/RunLoopTimer.h"

namespace platform {

namespace {

struct ScriptedResult {
    bool loads = false;
    double delay = 0;
};

// What the test seams set, and the loads waiting for completePending.
struct StoreSheetState {
    std::mutex mutex;
    std::optional<ScriptedResult> next;
    bool holding = false;
    std::deque<SKStoreProductViewController::LoadCompletion> pending;
    std::vector<Value> parameters;

    static StoreSheetState& shared() {
        // Never destroyed: other threads may use it during exit.
        static StoreSheetState& state = *new StoreSheetState();
        return state;
    }
};

Ref<NSError> loadError() { return NSError::errorWithDomain(SKErrorDomain, SKErrorUnknown); }

// Ends a load on the main queue after `delay` (0: the next pass), whoever is left by then.
void finishLoad(SKStoreProductViewController::LoadCompletion completion, bool loads, double delay) {
    if (!completion) return;
    runtime::scheduleMainThreadCall(delay, [completion = std::move(completion), loads] {
        if (loads) completion(true, nullptr);
        else completion(false, loadError());
    });
}

bool hasIdentifier(const Value& parameters) {
    const Value& id = parameters[SKStoreProductParameterItemIdentifier];
    if (id.isString()) return !id.string()->empty();
    return id.isNumber() && !id.isBool();
}

}  // namespace

void SKStoreProductViewController::loadProductWithParameters(const Value& parameters, LoadCompletion completion) {
    assertMainThread("SKStoreProductViewController::loadProductWithParameters");
    auto& state = StoreSheetState::shared();
    std::unique_lock lock(state.mutex);
    state.parameters.push_back(parameters);
    if (!hasIdentifier(parameters)) {
        lock.unlock();
        logError("SKStoreProductViewController: no product identifier in the parameters");
        finishLoad(std::move(completion), false, 0);
        return;
    }
    if (state.holding) {
        state.pending.push_back(std::move(completion));
        return;
    }
    ScriptedResult result{DeviceProfile::current().storeSheetLoads, 0};
    if (state.next) result = *std::exchange(state.next, std::nullopt);
    lock.unlock();
    finishLoad(std::move(completion), result.loads, result.delay);
}

}  // namespace platform

namespace platform::testing {

void StoreSheet::setNextResult(Result result, double delay) {
    auto& state = StoreSheetState::shared();
    std::lock_guard lock(state.mutex);
    state.next = ScriptedResult{result == Loads, delay > 0 ? delay : 0};
}

void StoreSheet::hold() {
    auto& state = StoreSheetState::shared();
    std::lock_guard lock(state.mutex);
    state.holding = true;
}

void StoreSheet::completePending(bool loads) {
    auto& state = StoreSheetState::shared();
    std::deque<SKStoreProductViewController::LoadCompletion> pending;
    {
        std::lock_guard lock(state.mutex);
        state.holding = false;
        pending.swap(state.pending);
    }
    for (auto& completion : pending) finishLoad(std::move(completion), loads, 0);
}

size_t StoreSheet::pendingCount() {
    auto& state = StoreSheetState::shared();
    std::lock_guard lock(state.mutex);
    return state.pending.size();
}

std::vector<Value> StoreSheet::loadedParameters() {
    auto& state = StoreSheetState::shared();
    std::lock_guard lock(state.mutex);
    return state.parameters;
}

void StoreSheet::simulateUserClose(const Ref<SKStoreProductViewController>& sheet) {
    assertMainThread("StoreSheet::simulateUserClose");
    if (!sheet) return;
    if (auto delegate = sheet->delegate()) delegate->productViewControllerDidFinish(sheet);
}

}  // namespace platform::testing
