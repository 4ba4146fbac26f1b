// The base of views and view controllers: the touch callbacks.
#pragma once

#include <vector>

#include "platform/runtime/NSObject.h"

namespace platform {

class UITouch;
class UIEvent;

class UIResponder : public NSObject {
public:
    virtual void touchesBegan(const std::vector<Ref<UITouch>>& touches, const Ref<UIEvent>& event);
    virtual void touchesEnded(const std::vector<Ref<UITouch>>& touches, const Ref<UIEvent>& event);
    virtual void touchesCancelled(const std::vector<Ref<UITouch>>& touches, const Ref<UIEvent>& event);
};

}  // namespace platform

using platform::UIResponder;
