// How a template ad container reports to its controller: the native close
// button. Main thread.
#pragma once

#include "platform/runtime/NSObject.h"

class TMATAdContainerDelegate : public virtual NSObjectProtocol {
public:
    // Optional: asked through respondsToSelector("closeButtonPressed").
    virtual void closeButtonPressed() {}
};
