// The Tamarind client's registration singleton: holds the application key the
// application registers at launch, kept in the user defaults under
// "TamarindAd:ApplicationIdKey" so that it survives restarts and the rest of
// the client finds it. Thread-safe (the store is).
#pragma once

#include <optional>
#include <string>

#include "platform/runtime/NSObject.h"

class TamarindAdRegistration : public NSObject {
public:
    static constexpr const char* kApplicationIdKey = "TamarindAd:ApplicationIdKey";

    // Created once, thread-safely.
    static Ref<TamarindAdRegistration> sharedRegistration();

    // Stores the key. An empty key (or one of white space only) is refused
    // with an error line, and the stored key stays.
    bool setApplicationId(const std::string& applicationId);
    // The stored key; nullopt when none is stored.
    std::optional<std::string> applicationId() const;
};
