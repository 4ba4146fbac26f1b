// Class look-up by name (NSClassFromString) over an explicit registry: each
// library registers its classes in a register<Library>Classes() function.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include "platform/runtime/NSObject.h"

namespace platform {

// A registered class: its name and a way to make a default instance. A
// default-constructed Class is "nil".
class Class {
public:
    struct Entry {
        std::string name;
        std::function<Ref<NSObject>()> make;  // null for classes without a default constructor
    };

    Class() = default;
    explicit Class(std::shared_ptr<const Entry> entry) : entry_(std::move(entry)) {}

    explicit operator bool() const { return entry_ != nullptr; }
    const std::string& name() const;
    // A new default-constructed instance; null for nil or a class that cannot be made.
    Ref<NSObject> alloc() const;
    bool operator==(const Class& other) const { return entry_ == other.entry_; }

private:
    std::shared_ptr<const Entry> entry_;
};

class NSClassRegistry {
public:
    // Registers T under its class name (className(): RTTI, demangled, without
    // namespaces). Registering a name again replaces the entry.
    template <class T> static void registerClass() {
        static_assert(std::is_base_of_v<NSObject, T>, "registered classes derive from NSObject");
        std::function<Ref<NSObject>()> make;
        if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
            make = [] { return std::static_pointer_cast<NSObject>(std::make_shared<T>()); };
        add(demangledClassName(typeid(T)), std::move(make));
    }
    static void add(std::string name, std::function<Ref<NSObject>()> make);
    static Class lookup(std::string_view name);
    // Test seam: the name is no longer found, as if the class were absent.
    static void hideClassForTesting(std::string_view name);
};

// Null Class when the name is not registered (or hidden).
Class NSClassFromString(std::string_view name);
inline std::string NSStringFromClass(const Class& c) { return c ? c.name() : std::string(); }
inline std::string NSStringFromClass(const NSObject& object) { return object.className(); }
// "" for a null reference.
template <class T> std::string NSStringFromClass(const std::shared_ptr<T>& object) {
    const NSObject* o = nullptr;
    if constexpr (std::is_base_of_v<NSObject, T>) o = object.get();
    else o = dynamic_cast<const NSObject*>(object.get());
    return o ? o->className() : std::string();
}

}  // namespace platform

using platform::Class;
using platform::NSClassFromString;
using platform::NSClassRegistry;
using platform::NSStringFromClass;
