// One refresh tick of a size's ads, on task queue 0: the ad service loads a
// new ad when an observer would show it and the kept one has expired, and
// arms the next tick while the size has observers. A tick the client's
// state drops ends the chain until the next successful load.
#pragma once

#include <optional>
#include <string>

#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLTask.h"

class HLAdService;

class HLUpdateAdTask : public HLTask {
public:
    Ref<HLUpdateAdTask> initWithSdk(const Ref<HLSdk>& sdk) {
        HLTask::initWithSdk(sdk);
        return self<HLUpdateAdTask>();
    }
    void run() override;

    const Ref<HLAdSize>& size() const { return size_; }
    void setSize(Ref<HLAdSize> size) { size_ = std::move(size); }
    const std::optional<std::string>& placement() const { return placement_; }
    void setPlacement(std::optional<std::string> placement) { placement_ = std::move(placement); }
    const Ref<HLAdService>& adService() const { return adService_; }
    void setAdService(Ref<HLAdService> service) { adService_ = std::move(service); }

protected:
    void taskDropped() override;

private:
    Ref<HLAdSize> size_;
    std::optional<std::string> placement_;
    Ref<HLAdService> adService_;
};
