// The root of every platform and client class: identity, class names, the
// "responds to selector" mechanism for optional protocol methods, delayed calls.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

namespace platform {

template <class T> using Ref = std::shared_ptr<T>;
template <class T> using Weak = std::weak_ptr<T>;
using Block = std::function<void()>;

// Every protocol (delegate interface) derives virtually from this. Optional
// methods have default bodies; a class that implements some of them lists
// their selectors with PLATFORM_RESPONDS_TO so callers can ask first.
class NSObjectProtocol {
public:
    virtual ~NSObjectProtocol() = default;
    virtual bool respondsToSelector(std::string_view selector) const;
};

class Value;

class NSObject : public virtual NSObjectProtocol, public std::enable_shared_from_this<NSObject> {
public:
    NSObject() = default;
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;
    ~NSObject() override = default;

    template <class T = NSObject> static Ref<T> alloc() { return std::make_shared<T>(); }
    // Two-phase creation: alloc() then init…(), which may call virtual methods.
    Ref<NSObject> init() { return shared_from_this(); }

    // The dynamic type's name (RTTI, demangled, namespaces stripped).
    std::string className() const;
    virtual std::string description() const;
    virtual bool isEqual(const NSObject& other) const { return this == &other; }
    virtual size_t hash() const { return reinterpret_cast<size_t>(this); }

    template <class T> bool isKindOfClass() const {
        if constexpr (std::is_base_of_v<T, NSObject>) return true;  // (a cast to a base would compare `this` to null)
        else return dynamic_cast<const T*>(this) != nullptr;
    }
    template <class T> bool isMemberOfClass() const { return typeid(*this) == typeid(T); }

    // KVC entry point; the default logs "undefined key".
    virtual void setValue(const Value& value, const std::string& key);

    // Key-value observation callback (see NSKeyValueObserving).
    virtual void observeValueForKeyPath(const std::string& keyPath, Ref<NSObject> object,
                                        const Value& change, void* context);

    // A one-shot main-run-loop call that holds this object until it ran.
    // Delay 0 runs at the next pass, never inline.
    void performSelector(Block block, double afterDelay);
    // Cancels every pending performSelector(…, afterDelay) of `target`.
    static void cancelPreviousPerformRequestsWithTarget(const Ref<NSObject>& target);
    // Runs `block` on the main thread; waitUntilDone on main runs it inline.
    void performSelectorOnMainThread(Block block, bool waitUntilDone);

    template <class T> Ref<T> self() { return std::dynamic_pointer_cast<T>(shared_from_this()); }
    template <class T> Ref<const T> self() const { return std::dynamic_pointer_cast<const T>(shared_from_this()); }

    // @synchronized(self)
    std::recursive_mutex& synchronizationMutex() const { return sync_; }

private:
    mutable std::recursive_mutex sync_;
};

// Demangled, namespace-free name of a type (for className()).
std::string demangledClassName(const std::type_info& type);

// Returns true when `selector` is one of the listed ones; otherwise asks `Base`.
#define PLATFORM_RESPONDS_TO_BASE(Base, ...)                                              \
    bool respondsToSelector(std::string_view selector_) const override {                  \
        for (std::string_view s_ : {__VA_ARGS__})                                         \
            if (s_ == selector_) return true;                                             \
        return Base::respondsToSelector(selector_);                                       \
    }
#define PLATFORM_RESPONDS_TO(...) PLATFORM_RESPONDS_TO_BASE(::platform::NSObjectProtocol, __VA_ARGS__)

// @synchronized(obj) { … }  →  { PLATFORM_SYNCHRONIZED(obj); … }
#define PLATFORM_CONCAT_INNER_(a, b) a##b
#define PLATFORM_CONCAT_(a, b) PLATFORM_CONCAT_INNER_(a, b)
#define PLATFORM_SYNCHRONIZED(obj) \
    std::scoped_lock<std::recursive_mutex> PLATFORM_CONCAT_(platform_sync_lock_, __LINE__)((obj).synchronizationMutex())

}  // namespace platform

using platform::Block;
using platform::NSObject;
using platform::NSObjectProtocol;
using platform::Ref;
using platform::Weak;
