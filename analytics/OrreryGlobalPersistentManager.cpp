#include "analytics/OrreryGlobalPersistentManager.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "analytics/OrreryLog.h"
#include "analytics/OrreryUtil.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"

struct OrreryGlobalPersistentManager::Store {
    std::string name;
    std::string path;
    dispatch_queue_t queue;
    ValueDictionary map;  // touched only by blocks on `queue`
    // The file is there but could not be read: nothing is saved over it, and
    // it is read again (alone on `queue`) before each later operation.
    std::atomic<bool> unread{false};
    std::set<std::string> removedUnread;  // keys writes removed while unread; alone on `queue`
    // Writes issued and not yet run. An asynchronous write saves only when
    // no other write waits behind it: a burst is saved once, by its last write.
    std::atomic<int> pendingWrites{0};
    mutable std::mutex handlerMutex;
    std::function<void()> willSaveHandler;  // under handlerMutex
    // What waits for the next save; touched only by blocks on `queue`.
    std::vector<std::function<void()>> afterSave;

    // The map the file holds; nothing while it cannot be read.
    std::optional<ValueDictionary> stored() const {
        std::optional<Value> archive = OrreryUtil::readArchiveFile(path);
        if (!archive) return std::nullopt;
        if (const ValueDictionary* dictionary = archive->dictionary()) return *dictionary;
        if (!archive->isNull()) OrreryLog::error("the persisted " + name + " map is no dictionary; starting empty");
        return ValueDictionary();
    }

    void load() {
        std::optional<ValueDictionary> read = stored();
        unread = !read;
        if (read) map = std::move(*read);
        else OrreryLog::error("the persisted " + name + " map cannot be read; it is kept, and changes stay in memory until it can");
    }

    // Alone on the queue.
    void readIfUnread() {
        if (!unread) return;
        std::optional<ValueDictionary> read = stored();
        if (!read) return;
        const bool changed = read->takeChangesMadeWhileUnread(map, removedUnread);
        map = std::move(*read);
        removedUnread.clear();
        unread = false;
        if (changed) save();
    }

    void save() const {
        // Never over a file that could not be read: what it holds would be lost.
        if (unread) return;
        std::function<void()> willSave;
        {
            std::scoped_lock lock(handlerMutex);
            willSave = willSaveHandler;
        }
        try {
            if (willSave) willSave();
        } catch (...) {
            OrreryLog::error("what must be saved before the persisted " + name + " map failed to save");
        }
        if (!OrreryUtil::archiveObject(Value(map), path)) {
            OrreryLog::error("could not save the persisted " + name + " map to " + path);
            return;
        }
        OrreryUtil::addSkipBackupAttributeToItemAtURL(NSURL::fileURLWithPath(path));
    }

    // Runs on the queue, alone.
    void write(const WriteBlock& block, bool alwaysSave, std::function<void()> afterSaved) {
        readIfUnread();
        if (unread) {
            const std::vector<std::string> before = map.keys();
            guarded("a write on", [&] { block(map); });
            for (const std::string& key : before)
                if (!map.contains(key)) removedUnread.insert(key);
            for (const auto& [key, value] : map) removedUnread.erase(key);
        } else {
            guarded("a write on", [&] { block(map); });
        }
        if (afterSaved) afterSave.push_back(std::move(afterSaved));
        // Saved even after a failure: the file follows what the map holds.
        if (pendingWrites.fetch_sub(1) != 1 && !alwaysSave) return;
        save();
        // Run after a failed save too: the file cannot get further.
        std::vector<std::function<void()>> waiting;
        waiting.swap(afterSave);
        for (const auto& next : waiting) guarded("what waited for a save of", next);
    }

    void guarded(const char* what, const std::function<void()>& work) const {
        try {
            work();
        } catch (const std::exception& e) {
            OrreryLog::error(std::string(what) + " the persisted " + name +
                             " map failed: " + platform::shortenedForLog(e.what()));
        } catch (...) {
            OrreryLog::error(std::string(what) + " the persisted " + name + " map failed");
        }
    }
};

namespace {

constexpr std::array<const char*, 5> kMapNames = {"globals", "cookies", "URLs", "Relay URLs", "Relay prep URLs"};
constexpr std::array<const char*, 5> kFileNames = {"OrreryPersistentGlobals.archive", "OrreryPersistentCookies.archive",
                                                   "OrreryPersistentUrls.archive", "OrreryPersistentRelayUrls.archive",
                                                   "OrreryPersistentRelayPrepUrls.archive"};
constexpr std::array<const char*, 5> kQueueLabels = {"orrery.persistent.globals", "orrery.persistent.cookies",
                                                     "orrery.persistent.urls", "orrery.persistent.relayUrls",
                                                     "orrery.persistent.relayPrepUrls"};

}  // namespace

Ref<OrreryGlobalPersistentManager> OrreryGlobalPersistentManager::sharedInstance() {
    static const Ref<OrreryGlobalPersistentManager>* instance =
        new Ref<OrreryGlobalPersistentManager>(alloc<OrreryGlobalPersistentManager>()->init());
    return *instance;
}

Ref<OrreryGlobalPersistentManager> OrreryGlobalPersistentManager::init() {
    std::string folder = OrreryUtil::filePathDirectory();
    for (size_t i = 0; i < stores_.size(); ++i) {
        auto store = std::make_shared<Store>();
        store->name = kMapNames[i];
        store->path = folder + "/" + kFileNames[i];
        store->queue = dispatch_queue_create(kQueueLabels[i], DISPATCH_QUEUE_CONCURRENT);
        store->load();
        stores_[i] = std::move(store);
    }
    return self<OrreryGlobalPersistentManager>();
}

std::string OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap map) {
    return kFileNames[static_cast<size_t>(map)];
}

const std::shared_ptr<OrreryGlobalPersistentManager::Store>& OrreryGlobalPersistentManager::store(
    OrreryPersistentMap map) const {
    return stores_[static_cast<size_t>(map)];
}

bool OrreryGlobalPersistentManager::processReadOperationSync(OrreryPersistentMap map, ReadBlock block) {
    const auto& target = store(map);
    if (target->unread) dispatch_barrier_sync(target->queue, [&target] { target->readIfUnread(); });
    bool read = true;
    dispatch_sync(target->queue, [&target, &block, &read] {
        read = !target->unread;
        if (block) block(target->map);
    });
    return read;
}

void OrreryGlobalPersistentManager::processWriteOperation(OrreryPersistentMap map, WriteBlock block,
                                                          std::function<void()> afterSaved) {
    if (!block) return;
    // The block keeps the store alive: writes issued before a manager goes
    // away still run and are saved.
    std::shared_ptr<Store> target = store(map);
    target->pendingWrites.fetch_add(1);
    dispatch_barrier_async(target->queue, [target, block = std::move(block), afterSaved = std::move(afterSaved)]() mutable {
        target->write(block, false, std::move(afterSaved));
    });
}

void OrreryGlobalPersistentManager::processWriteOperationSync(OrreryPersistentMap map, WriteBlock block) {
    if (!block) return;
    const auto& target = store(map);
    target->pendingWrites.fetch_add(1);
    dispatch_barrier_sync(target->queue, [&target, &block] { target->write(block, true, nullptr); });
}

void OrreryGlobalPersistentManager::setWillSaveHandler(OrreryPersistentMap map, std::function<void()> handler) {
    const auto& target = store(map);
    std::scoped_lock lock(target->handlerMutex);
    target->willSaveHandler = std::move(handler);
}

void OrreryGlobalPersistentManager::waitForPendingWrites() {
    for (const auto& target : stores_) dispatch_barrier_sync(target->queue, [] {});
}

void OrreryGlobalPersistentManager::reloadFromFiles() {
    for (const auto& target : stores_)
        dispatch_barrier_sync(target->queue, [&target] {
            target->map = ValueDictionary();
            target->removedUnread.clear();
            target->load();
        });
}
