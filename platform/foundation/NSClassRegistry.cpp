#include "platform/foundation/NSClassRegistry.h"

#include <mutex>
#include <set>
#include <unordered_map>

namespace platform {

namespace {
struct ClassTable {
    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<const Class::Entry>> classes;
    std::set<std::string, std::less<>> hidden;
};
ClassTable& classTable() {
    static auto* r = new ClassTable;  // never destroyed: look-ups may come during exit
    return *r;
}
}  // namespace

const std::string& Class::name() const {
    // Never destroyed: other threads may use it during exit.
    static const std::string& none = *new std::string();
    return entry_ ? entry_->name : none;
}

Ref<NSObject> Class::alloc() const { return entry_ && entry_->make ? entry_->make() : nullptr; }

void NSClassRegistry::add(std::string name, std::function<Ref<NSObject>()> make) {
    auto entry = std::make_shared<Class::Entry>(Class::Entry{name, std::move(make)});
    ClassTable& r = classTable();
    std::lock_guard lock(r.mutex);
    r.classes[std::move(name)] = std::move(entry);
}

Class NSClassRegistry::lookup(std::string_view name) {
    ClassTable& r = classTable();
    std::lock_guard lock(r.mutex);
    if (r.hidden.count(name)) return Class();
    auto it = r.classes.find(std::string(name));
    return it == r.classes.end() ? Class() : Class(it->second);
}

void NSClassRegistry::hideClassForTesting(std::string_view name) {
    ClassTable& r = classTable();
    std::lock_guard lock(r.mutex);
    r.hidden.emplace(name);
}

Class NSClassFromString(std::string_view name) { return NSClassRegistry::lookup(name); }

}  // namespace platform
