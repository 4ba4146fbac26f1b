// The persisted maps: reads side by side, writes alone and in the order
// they were issued, under contention from several threads (run under
// ThreadSanitizer too); every write saved so that a new manager (a restart)
// reads what the last write left, records included, and a map file that
// cannot be read at a start is never saved over.
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryUtil.h"
#include "analytics/tests/OrreryTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSCoder.h"
#include "platform/runtime/HangGuard.h"

namespace {

using OrreryPersistentMapTest = OrreryTest;

Ref<OrreryGlobalPersistentManager> newManager() { return NSObject::alloc<OrreryGlobalPersistentManager>()->init(); }

// An archivable record, as Relay keeps in the maps.
class ProbeRecord : public NSObject, public NSCoding {
public:
    std::string name;
    int64_t count = 0;
    void encodeWithCoder(NSCoder& coder) const override {
        coder.encodeObject(Value(name), "name");
        coder.encodeInt64(count, "count");
    }
    void initWithCoder(const NSCoder& coder) override {
        name = coder.decodeObjectForKey("name").stringValue();
        count = coder.decodeInt64ForKey("count");
    }
};

TEST_F(OrreryPersistentMapTest, AnAsyncWriteIsSeenByTheNextRead) {
    auto manager = newManager();
    manager->processWriteOperationForPersistentGlobalsMapWithBlock(
        [](ValueDictionary& map) { map.set("k", Value(1)); });
    int64_t seen = 0;
    manager->processReadOperationForPersistentGlobalsMapSyncWithBlock(
        [&seen](const ValueDictionary& map) { seen = map.find("k") ? map.find("k")->integerValue() : -1; });
    EXPECT_EQ(seen, 1);
}

TEST_F(OrreryPersistentMapTest, WritesRunAloneInIssueOrderWhileReadsOverlap) {
    auto manager = newManager();
    constexpr int kWriters = 4;
    constexpr int kWritesEach = 40;
    constexpr int kReaders = 3;

    std::mutex issueMutex;  // makes "the order issued" one global order
    int64_t issued = 0;
    std::atomic<int> activeWrites{0};
    std::atomic<int> activeReads{0};
    std::atomic<int> violations{0};
    int64_t lastTicket = 0;  // changed only inside writes
    std::atomic<bool> writersDone{false};

    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&] {
            for (int i = 0; i < kWritesEach; ++i) {
                std::lock_guard lock(issueMutex);
                int64_t ticket = ++issued;
                manager->processWriteOperation(OrreryPersistentMap::RelayUrls, [&, ticket](ValueDictionary& map) {
                    if (activeWrites.fetch_add(1) != 0 || activeReads.load() != 0) ++violations;
                    if (ticket != lastTicket + 1) ++violations;
                    lastTicket = ticket;
                    map.set("ticket", Value(ticket));
                    activeWrites.fetch_sub(1);
                });
            }
        });
    }
    for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&] {
            int64_t previous = 0;
            while (!writersDone.load()) {
                manager->processReadOperationSync(OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& map) {
                    activeReads.fetch_add(1);
                    if (activeWrites.load() != 0) ++violations;
                    int64_t ticket = map.find("ticket") ? map.find("ticket")->integerValue() : 0;
                    if (ticket < previous) ++violations;  // a read never goes back in time
                    previous = ticket;
                    activeReads.fetch_sub(1);
                });
            }
        });
    }
    for (int w = 0; w < kWriters; ++w) threads[static_cast<size_t>(w)].join();
    manager->processWriteOperationSync(OrreryPersistentMap::RelayUrls, [](ValueDictionary&) {});
    writersDone.store(true);
    for (size_t t = kWriters; t < threads.size(); ++t) threads[t].join();

    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(lastTicket, kWriters * kWritesEach);
    // The file holds the last write.
    int64_t saved = 0;
    newManager()->processReadOperationSync(OrreryPersistentMap::RelayUrls, [&saved](const ValueDictionary& map) {
        saved = map.find("ticket") ? map.find("ticket")->integerValue() : 0;
    });
    EXPECT_EQ(saved, kWriters * kWritesEach);
}

TEST_F(OrreryPersistentMapTest, ReadsRunSideBySide) {
    auto manager = newManager();
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    bool bothInside = true;
    auto read = [&] {
        manager->processReadOperationForPersistentGlobalsMapSyncWithBlock([&](const ValueDictionary&) {
            std::unique_lock lock(mutex);
            ++inside;
            changed.notify_all();
            // Only a read running beside this one can let it finish in time.
            if (!changed.wait_for(lock, std::chrono::duration<double>(platform::testing::hangGuard(5)), [&] { return inside == 2; })) bothInside = false;
        });
    };
    std::thread first(read);
    std::thread second(read);
    first.join();
    second.join();
    EXPECT_TRUE(bothInside);
}

TEST_F(OrreryPersistentMapTest, SyncWriteReturnsAfterItRanAndIsSaved) {
    auto manager = newManager();
    bool ran = false;
    manager->processWriteOperationForPersistentRelayUrlMapSyncWithBlock([&ran](ValueDictionary& map) {
        map.set("hash", Value("attempt"));
        ran = true;
    });
    EXPECT_TRUE(ran);
    // Saved before it returned: a second manager reads it from the file.
    std::string seen;
    newManager()->processReadOperationSync(OrreryPersistentMap::RelayUrls, [&seen](const ValueDictionary& map) {
        if (const Value* value = map.find("hash")) seen = value->stringValue();
    });
    EXPECT_EQ(seen, "attempt");
}

TEST_F(OrreryPersistentMapTest, EveryMapSurvivesARestartWithItsRecords) {
    NSClassRegistry::registerClass<ProbeRecord>();
    {
        auto manager = newManager();
        const OrreryPersistentMap maps[] = {OrreryPersistentMap::Globals, OrreryPersistentMap::Cookies,
                                            OrreryPersistentMap::Urls, OrreryPersistentMap::RelayUrls,
                                            OrreryPersistentMap::RelayPrepUrls};
        int n = 0;
        for (OrreryPersistentMap map : maps) {
            ++n;
            manager->processWriteOperation(map, [n](ValueDictionary& dictionary) {
                auto record = NSObject::alloc<ProbeRecord>();
                record->name = "record" + std::to_string(n);
                record->count = n;
                dictionary.set("record", Value(record));
                dictionary.set("nested", Value::dictionary({{"list", Value::array({n, "x"})}}));
            });
        }
        manager->processWriteOperationForPersistentRelayPrepUrlMapWithBlock(
            [](ValueDictionary& dictionary) { dictionary.remove("nested"); });
        manager->waitForPendingWrites();
    }

    auto restarted = newManager();
    int n = 0;
    for (OrreryPersistentMap map :
         {OrreryPersistentMap::Globals, OrreryPersistentMap::Cookies, OrreryPersistentMap::Urls,
          OrreryPersistentMap::RelayUrls, OrreryPersistentMap::RelayPrepUrls}) {
        ++n;
        restarted->processReadOperationSync(map, [n, map](const ValueDictionary& dictionary) {
            ASSERT_NE(dictionary.find("record"), nullptr);
            auto record = dictionary.find("record")->object<ProbeRecord>();
            ASSERT_NE(record, nullptr);
            EXPECT_EQ(record->name, "record" + std::to_string(n));
            EXPECT_EQ(record->count, n);
            EXPECT_EQ(dictionary.find("nested") != nullptr, map != OrreryPersistentMap::RelayPrepUrls);
        });
    }
}

TEST_F(OrreryPersistentMapTest, StorageFlagsLiveInTheGlobalsMap) {
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    EXPECT_FALSE(storage->appInstallProcessDone());
    EXPECT_TRUE(storage->lastAdTrackingEnabledSetting());
    storage->setAppInstallProcessDone(true);
    storage->setLastAdTrackingEnabledSetting(false);
    EXPECT_TRUE(storage->appInstallProcessDone());
    EXPECT_FALSE(storage->lastAdTrackingEnabledSetting());

    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
    newManager()->processReadOperationForPersistentGlobalsMapSyncWithBlock([](const ValueDictionary& globals) {
        EXPECT_TRUE(globals.find(OrreryGlobalVariableStorage::kAppInstallProcessDoneKey)->boolValue());
        EXPECT_FALSE(globals.find(OrreryGlobalVariableStorage::kLastAdTrackingEnabledSettingKey)->boolValue());
    });
}

TEST_F(OrreryPersistentMapTest, ADamagedFileStartsAnEmptyMap) {
    std::string path = OrreryUtil::filePathDirectory() + "/" +
                       OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap::Cookies);
    ASSERT_TRUE(NSData::dataWithString("bplist00 damaged").writeToFile(path, true));
    auto manager = newManager();
    size_t count = 99;
    manager->processReadOperationSync(OrreryPersistentMap::Cookies,
                                      [&count](const ValueDictionary& map) { count = map.count(); });
    EXPECT_EQ(count, 0u);
    // And the next write replaces the damaged file.
    manager->processWriteOperationSync(OrreryPersistentMap::Cookies,
                                       [](ValueDictionary& map) { map.set("c", Value(1)); });
    newManager()->processReadOperationSync(OrreryPersistentMap::Cookies,
                                           [&count](const ValueDictionary& map) { count = map.count(); });
    EXPECT_EQ(count, 1u);
}

// The globals map cannot be read at two starts in a row (the file-system
// seam). Its file is never saved over; once it reads, the writes made
// meanwhile win over what it holds (a key written, one written and removed,
// one removed and written again), the rest is kept, and the result is
// saved. A key a write removes without the map showing it stays: the write
// could not know it was there.
TEST_F(OrreryPersistentMapTest, AMapUnreadableAtAStartIsNeverSavedOverAndTakesTheWritesMadeMeanwhile) {
    const std::string path = OrreryUtil::filePathDirectory() + "/" +
                             OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap::Globals);
    newManager()->processWriteOperationSync(OrreryPersistentMap::Globals, [](ValueDictionary& map) {
        for (const char* key : {"identifier", "changed", "temporary", "again", "unseen"}) map.set(key, Value("stored"));
    });
    const NSData saved = *NSData::dataWithContentsOfFile(path);

    platform::testing::FileSystemConditions::setReadsFail(path, EIO);
    auto writes = [](const Ref<OrreryGlobalPersistentManager>& manager) {
        manager->processWriteOperationSync(OrreryPersistentMap::Globals, [](ValueDictionary& map) {
            map.set("changed", Value("meanwhile"));
            map.set("added", Value(2));
            map.set("temporary", Value(3));
            map.set("again", Value(4));
        });
        manager->processWriteOperation(OrreryPersistentMap::Globals, [](ValueDictionary& map) {
            map.remove("temporary");
            map.remove("again");
            map.remove("unseen");
        });
        manager->processWriteOperation(OrreryPersistentMap::Globals, [](ValueDictionary& map) { map.set("again", Value(5)); });
        manager->waitForPendingWrites();
    };
    writes(newManager());
    auto manager = newManager();
    writes(manager);
    platform::testing::FileSystemConditions::setReadsFail(path, std::nullopt);
    EXPECT_TRUE(NSData::dataWithContentsOfFile(path)->isEqual(saved));

    // The next operation reads it.
    auto seen = [](const Ref<OrreryGlobalPersistentManager>& reader) {
        ValueDictionary globals;
        reader->processReadOperationForPersistentGlobalsMapSyncWithBlock([&](const ValueDictionary& map) { globals = map; });
        return Value(std::move(globals));
    };
    const Value expected = Value::dictionary(
        {{"identifier", "stored"}, {"changed", "meanwhile"}, {"again", 5}, {"unseen", "stored"}, {"added", 2}});
    EXPECT_TRUE(seen(manager).isEqual(expected)) << seen(manager).description();
    EXPECT_TRUE(seen(newManager()).isEqual(expected));
    EXPECT_EQ(logCapture().count(path + " cannot be read now"), 1u);
}

// The install trigger was raised by an earlier start; the globals cannot be
// read at this one. Until they can, the install counts as done, so the
// trigger is not raised a second time; a flag written meanwhile reads as
// written (the ad-tracking check, run at each event, acts once).
TEST_F(OrreryPersistentMapTest, TheInstallCountsAsDoneWhileTheGlobalsCannotBeRead) {
    const std::string path = OrreryUtil::filePathDirectory() + "/" +
                             OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap::Globals);
    newManager()->processWriteOperationSync(OrreryPersistentMap::Globals, [](ValueDictionary& map) {
        map.set(OrreryGlobalVariableStorage::kAppInstallProcessDoneKey, Value(true));
    });
    platform::testing::FileSystemConditions::setReadsFail(path, EIO);
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    EXPECT_TRUE(storage->appInstallProcessDone());
    EXPECT_FALSE(OrreryGlobalPersistentManager::sharedInstance()->processReadOperationSync(OrreryPersistentMap::Globals, nullptr));
    EXPECT_TRUE(storage->lastAdTrackingEnabledSetting());
    storage->setLastAdTrackingEnabledSetting(false);
    EXPECT_FALSE(storage->lastAdTrackingEnabledSetting());
    platform::testing::FileSystemConditions::setReadsFail(path, std::nullopt);
    EXPECT_TRUE(storage->appInstallProcessDone());
    EXPECT_FALSE(storage->lastAdTrackingEnabledSetting());
    EXPECT_TRUE(OrreryGlobalPersistentManager::sharedInstance()->processReadOperationSync(OrreryPersistentMap::Globals, nullptr));
}

TEST_F(OrreryPersistentMapTest, AThrowingWriteIsLoggedAndTheQueueGoesOn) {
    auto manager = newManager();
    expectLogLine("Orrery: a write on the persisted URLs map failed: boom");
    manager->processWriteOperation(OrreryPersistentMap::Urls, [](ValueDictionary& map) {
        map.set("before", Value(1));
        throw std::runtime_error("boom");
    });
    bool seen = false;
    manager->processReadOperationSync(OrreryPersistentMap::Urls,
                                      [&seen](const ValueDictionary& map) { seen = map.find("before") != nullptr; });
    EXPECT_TRUE(seen);
}

}  // namespace
