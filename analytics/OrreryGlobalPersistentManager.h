// The analytics client's five persisted dictionaries (globals, cookies, URLs,
// Relay URLs, Relay prep URLs). Each stands behind a concurrent queue of its
// own: reads run side by side, writes run alone, as barriers, in the order
// they were issued. Writes are saved to the map's file in the client's file
// folder, atomically: a synchronous write before it returns, a run of
// asynchronous writes once its last write has run. So a restart finds what
// the writes left, and a crash never leaves a damaged map, nor loses a
// write that had returned synchronously.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

enum class OrreryPersistentMap { Globals, Cookies, Urls, RelayUrls, RelayPrepUrls };

class OrreryGlobalPersistentManager : public NSObject {
public:
    using ReadBlock = std::function<void(const ValueDictionary& map)>;
    using WriteBlock = std::function<void(ValueDictionary& map)>;

    static Ref<OrreryGlobalPersistentManager> sharedInstance();
    // Loads the five maps from their files (a missing or damaged file gives
    // an empty map). A file that is there but cannot be read now (an I/O
    // error, too many open files) is never saved over: its map starts empty
    // and is read again before each later operation; once it reads, the
    // writes made meanwhile are laid over what it holds (a key written
    // meanwhile takes its value, a key a write removed goes; a key the map
    // did not show cannot be removed) and the map is saved. The shared instance is made this way; tests make more to play a
    // restart.
    Ref<OrreryGlobalPersistentManager> init();

    // Runs the block with the map on the map's queue, beside other reads,
    // and returns when it has run. A sync operation from inside a block of
    // the same map would deadlock and aborts instead: nest asynchronously.
    // False while the map's file cannot be read (the block saw only what was
    // written since): a key found absent then may well be stored, and a value
    // made only for that reason must not be written meanwhile (it would win).
    bool processReadOperationSync(OrreryPersistentMap map, ReadBlock block);
    // Runs the block alone on the map's queue and saves the map (once no
    // other write waits behind it); returns at once. `afterSaved`, when
    // given, then runs on the map's queue once the map as the block left it
    // has been saved (by this write or by one behind it): what must not
    // happen before the file says so waits for it.
    void processWriteOperation(OrreryPersistentMap map, WriteBlock block, std::function<void()> afterSaved = nullptr);
    // As processWriteOperation, returning when the block has run and the map is saved.
    void processWriteOperationSync(OrreryPersistentMap map, WriteBlock block);
    // Returns once every write issued so far to every map has run and been saved.
    void waitForPendingWrites();
    // Drops the maps in memory and loads them from their files as init()
    // does, once every write issued has been saved: a restart as the shared
    // instance sees it, for tests that play one.
    void reloadFromFiles();
    // Runs `handler` on the map's queue just before each save of the map (an
    // empty one removes it): a store whose records must be on disk no later
    // than what the map says of them writes them there.
    void setWillSaveHandler(OrreryPersistentMap map, std::function<void()> handler);

    // The forms the Relay code calls.
    bool processReadOperationForPersistentGlobalsMapSyncWithBlock(ReadBlock block) {
        return processReadOperationSync(OrreryPersistentMap::Globals, std::move(block));
    }
    void processWriteOperationForPersistentGlobalsMapWithBlock(WriteBlock block) {
        processWriteOperation(OrreryPersistentMap::Globals, std::move(block));
    }
    void processWriteOperationForPersistentRelayUrlMapWithBlock(WriteBlock block, std::function<void()> afterSaved = nullptr) {
        processWriteOperation(OrreryPersistentMap::RelayUrls, std::move(block), std::move(afterSaved));
    }
    void processWriteOperationForPersistentRelayUrlMapSyncWithBlock(WriteBlock block) {
        processWriteOperationSync(OrreryPersistentMap::RelayUrls, std::move(block));
    }
    void processWriteOperationForPersistentRelayPrepUrlMapWithBlock(WriteBlock block) {
        processWriteOperation(OrreryPersistentMap::RelayPrepUrls, std::move(block));
    }

    // The map's file name in the client's file folder.
    static std::string fileNameForMap(OrreryPersistentMap map);

private:
    struct Store;
    const std::shared_ptr<Store>& store(OrreryPersistentMap map) const;
    std::array<std::shared_ptr<Store>, 5> stores_;
};
