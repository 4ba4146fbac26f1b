// The postback service and the persisted postback queue against the Halcyon
// service on loopback: the stored file's form, attempt counting and the
// stalled list, the limits of slots 101 and 114, hostile stored files, failed
// writes, GET against JSON POST, retries on queue 2, submissions from every
// thread at once, and two keys in one process with the file that earlier
// versions shared. Retry delays run on the virtual clock.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLPostbackRequest.h"
#include "halcyon/core/HLPostbackService.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/PropertyList.h"

namespace {

using simulator::HalcyonService;
using simulator::RecordedRequest;
using platform::PropertyList;

// What a postback delegate hears, with the queue it heard it on.
class HLPostbackTestDelegate : public NSObject, public HLPostbackDelegate {
public:
    struct Outcome {
        bool success = false;
        int32_t code = 0;
        std::string url;
        std::string queue;
    };
    void postbackServiceDidExecutePostback(const Ref<HLPostbackService>&, const Ref<NSURL>& url) override {
        record({true, 0, url ? url->absoluteString() : "", queueName()});
    }
    void postbackServiceDidFailToExecutePostback(const Ref<HLPostbackService>&, const Ref<NSURL>& url,
                                                 int32_t code) override {
        record({false, code, url ? url->absoluteString() : "", queueName()});
    }
    std::vector<Outcome> outcomes() const {
        std::scoped_lock lock(mutex_);
        return outcomes_;
    }

private:
    static std::string queueName() {
        auto queue = NSOperationQueue::currentQueue();
        return queue && queue != NSOperationQueue::mainQueue() ? queue->name() : std::string("main");
    }
    void record(Outcome outcome) {
        std::scoped_lock lock(mutex_);
        outcomes_.push_back(std::move(outcome));
    }
    mutable std::mutex mutex_;
    std::vector<Outcome> outcomes_;
};

// One stored entry: the URL without its time stamp, the body and the attempts.
struct HLStoredPostback {
    std::string url;
    Value body;
    int32_t attempts = 0;
    bool operator==(const HLStoredPostback& other) const {
        return url == other.url && body == other.body && attempts == other.attempts;
    }
};
std::ostream& operator<<(std::ostream& out, const HLStoredPostback& entry) {
    return out << entry.url << " " << entry.body.description() << " #" << entry.attempts;
}

class HLPostbackTest : public HalcyonTest {
protected:
    // One try per dispatch unless a test asks for retries; events off, so
    // that no "landing" success sends stalled postbacks again.
    Ref<HLInternalSdkSettings> postbackSettings(int32_t retries = 0) {
        auto settings = serviceSettings();
        settings->putBool(false, kHLSlotEventsEnabled);
        settings->putInt(retries, kHLSlotSubmitPostbackRetries);
        settings->putLong(1000, kHLSlotGetRetryDelay);
        return settings;
    }
    // The test key's own file (its name: the SHA-1 of kHLTestSdkKey), and
    // the one file that earlier versions shared between keys.
    static constexpr const char* kOwnFile = "queued_postbacks_1.69b4ffd28f4e13bafd57c4c268a1936dedf169f1.plist";
    static constexpr const char* kSharedFile = "queued_postbacks_1.plist";
    std::string queueFile(std::string_view name = kOwnFile) const {
        return home() + "/Library/Caches/hl/" + std::string(name);
    }
    // With a query, so that the time stamp stays out of the path.
    std::string urlText(std::string_view name) { return service.postbackUrl(name) + "?n=1"; }
    Ref<NSURL> url(std::string_view name) { return NSURL::URLWithString(urlText(name)); }

    static std::vector<HLStoredPostback> entriesOf(const std::vector<Ref<HLPostbackRequest>>& requests) {
        std::vector<HLStoredPostback> entries;
        for (const auto& request : requests) {
            std::string text = request->targetURL() ? request->targetURL()->absoluteString() : "";
            entries.push_back({text.substr(0, text.find("&postback_ts=")), request->requestBody(),
                               request->attemptNumber()});
        }
        return entries;
    }
    // The file decoded as the next start would read it.
    std::vector<HLStoredPostback> storedEntries(std::string_view file = kOwnFile) {
        std::vector<Ref<HLPostbackRequest>> requests;
        const Value root = NSKeyedUnarchiver::unarchiveObjectWithFile(queueFile(file));
        EXPECT_TRUE(root.isArray()) << root.description();
        if (const auto* items = root.array())
            for (const Value& item : *items) requests.push_back(item.object<HLPostbackRequest>());
        return entriesOf(requests);
    }
    HLStoredPostback entry(std::string_view name, int32_t attempts, Value body = Value()) {
        return {urlText(name), std::move(body), attempts};
    }
    void storeQueue(const std::vector<Value>& items, std::string_view file = kOwnFile) {
        std::filesystem::create_directories(home() + "/Library/Caches/hl");
        ASSERT_TRUE(NSKeyedArchiver::archiveRootObject(Value(Value::Array(items)), queueFile(file)));
    }
    Value storedRequest(std::string_view name, int32_t attempts) {
        return Value(NSObject::alloc<HLPostbackRequest>()->initWithURL(
            NSURL::URLWithString(urlText(name) + "&postback_ts=1"), Value(), attempts));
    }
    size_t sent(std::string_view name) { return service.postbacksTo(name).size(); }

    // A second key in the same process, with its own file.
    static constexpr const char* kOtherKey = "OTHERKEY-9876543210";
    static constexpr const char* kOtherFile = "queued_postbacks_1.6e2a12e8eeb047716d82eaad87ee68d315a6a94c.plist";
    // An instance for `key` as a start makes it: registered at the first
    // start, new after a restart.
    Ref<HLSdk> launch(const char* key, const Ref<HLInternalSdkSettings>& settings, bool registered) {
        Ref<HLSdk> sdk = registered ? HLSdk::sharedWithKey(std::string(key), settings)
                                    : NSObject::alloc<HLSdk>()->initWithKey(key, settings);
        EXPECT_TRUE(settle());
        return sdk;
    }
};

TEST_F(HLPostbackTest, TheFileKeepsEachRequestUnderItsThreeKeys) {
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    HLQueueBlocker blocker(sdk->taskManager()->postbackQueue());
    sdk->persistentPostbackManager()->submitPostback(url("kept"), Value::dictionary({{"k", "v"}}));

    // The archive's own layout, read as a property list.
    std::optional<Value> plist = PropertyList::valueWithContentsOfFile(queueFile());
    ASSERT_TRUE(plist);
    const Value& top = (*plist)["$top"];
    ASSERT_EQ(top.count(), 1u);
    EXPECT_EQ(top.at(0)["$class"], Value("HLPostbackRequest"));
    const Value& fields = top.at(0)["$fields"];
    EXPECT_EQ(fields.keys(), (std::vector<std::string>{"targetURL", "requestBody", "attemptNumber"}));
    EXPECT_EQ(fields["targetURL"]["$class"], Value("NSURL"));
    EXPECT_TRUE(fields["attemptNumber"].isInteger());
    EXPECT_EQ(fields["attemptNumber"], Value(1));

    // Decoding: a missing attempt number is 0, a body of another kind none.
    auto request = NSObject::alloc<HLPostbackRequest>();
    NSCoder coder;
    coder.encodeObject(Value(NSURL::URLWithString("http://h/p")), "targetURL");
    coder.encodeObject(Value::array({1}), "requestBody");
    request->initWithCoder(coder);
    EXPECT_EQ(request->attemptNumber(), 0);
    EXPECT_TRUE(request->requestBody().isNull());
    EXPECT_EQ(request->description(),
              "<HLPostbackRequest: targetURL = http://h/p, requestBody = (null), attemptNumber = 0>");
}

TEST_F(HLPostbackTest, FailedPostbacksWaitForTheNextSuccessAndGoAtTheFourthDispatch) {
    service.scriptStatuses(HalcyonService::postbackPath("a"), {500, 500, 500});
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    auto manager = sdk->persistentPostbackManager();
    manager->submitPostback(url("a"), Value());
    ASSERT_TRUE(settle());
    EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("a", 1)}));
    EXPECT_EQ(manager->stalledPostbacks().size(), 1u);
    EXPECT_TRUE(listener->contains("Failed to submit postback: 500; will retry later...  <HLPostbackRequest"));

    // Each success of another postback sends the stalled one again.
    for (int32_t round = 2; round <= 3; ++round) {
        manager->submitPostback(url("ok"), Value());
        ASSERT_TRUE(settle());
        EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("a", round)}));
        EXPECT_EQ(sent("a"), static_cast<size_t>(round));
    }
    manager->submitPostback(url("ok"), Value());
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("a"), 3u);  // the fourth dispatch sends nothing
    EXPECT_EQ(sent("ok"), 3u);
    EXPECT_TRUE(storedEntries().empty());
    EXPECT_TRUE(manager->stalledPostbacks().empty());
    EXPECT_TRUE(listener->contains("WARN [HLPersistentPostbackManager] Exceeded maximum persisted attempt count of 3. "
                                   "Dequeuing postback: <HLPostbackRequest"));
}

TEST_F(HLPostbackTest, StoredPostbacksAtTheLimitLoadAndAreDroppedByTheStartUpFlush) {
    storeQueue({storedRequest("three", 3), storedRequest("four", 4), storedRequest("one", 1)});
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    EXPECT_TRUE(listener->contains("Skipping inflation of postback which has exceeded its maximum retry count... "
                                   "<HLPostbackRequest: targetURL = " + urlText("four")));
    EXPECT_EQ(sent("three"), 0u);
    EXPECT_EQ(sent("four"), 0u);
    EXPECT_EQ(sent("one"), 1u);
    EXPECT_TRUE(storedEntries().empty());
}

TEST_F(HLPostbackTest, ALoweredAttemptLimitDropsStoredEntriesAtLoad) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setInteger(kHLSdkVersionCode, HLSdk::lastKnownVersionCodeKey());
    defaults->setObject(Value::dictionary({{"max_postback_attempts", 1}}), kHLTestSettingsKey);
    storeQueue({storedRequest("zero", 0), storedRequest("one", 1), storedRequest("two", 2)});
    service.scriptStatuses(HalcyonService::postbackPath("zero"), {500});
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    EXPECT_EQ(listener->count("Skipping inflation of postback"), 1u);
    EXPECT_EQ(sent("zero"), 1u);
    EXPECT_EQ(sent("one"), 0u);  // its second dispatch would exceed 1
    EXPECT_EQ(sent("two"), 0u);
    EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("zero", 1)}));
}

TEST_F(HLPostbackTest, PostbacksBeyondTheQueueLimitAreSentButKeptInMemoryOnly) {
    // Slot 101 lowered from 100 (each change rewrites the file, synced).
    auto settings = postbackSettings();
    settings->putInt(10, kHLSlotPostbackServiceMaxQueueSize);
    Ref<HLSdk> sdk = startSdk(settings);
    auto manager = sdk->persistentPostbackManager();
    {
        HLQueueBlocker blocker(sdk->taskManager()->postbackQueue());
        for (int i = 0; i < 11; ++i) manager->submitPostback(url("n" + std::to_string(i)), Value());
        std::vector<HLStoredPostback> stored = storedEntries();
        ASSERT_EQ(stored.size(), 10u);
        EXPECT_EQ(stored.back(), entry("n9", 1));
        EXPECT_EQ(manager->postbackQueue().size(), 10u);
        EXPECT_EQ(listener->count("Persistent queue has reached maximum size; postback retried in memory only. "
                                  "<HLPostbackRequest: targetURL = " + urlText("n10")),
                  1u);
    }
    ASSERT_TRUE(settle());
    size_t postbacks = 0;
    for (const auto& request : service.server().requests()) postbacks += request.path.starts_with("/postback/");
    EXPECT_EQ(postbacks, 11u);
    EXPECT_EQ(sent("n10"), 1u);
    EXPECT_TRUE(storedEntries().empty());
}

TEST_F(HLPostbackTest, PostbacksWithoutAURLAreRefused) {
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    auto delegate = NSObject::alloc<HLPostbackTestDelegate>();
    sdk->postbackService()->dispatchPostbackAsync(nullptr, Value(), delegate);
    ASSERT_EQ(delegate->outcomes().size(), 1u);  // at once, on the caller's stack
    EXPECT_FALSE(delegate->outcomes()[0].success);
    EXPECT_EQ(delegate->outcomes()[0].code, -900);
    EXPECT_EQ(delegate->outcomes()[0].queue, "main");
    EXPECT_TRUE(listener->contains(
        "ERROR [HLPostbackService] Requested a postback dispatch for an empty URL; nothing to do..."));

    sdk->persistentPostbackManager()->submitPostback(nullptr, Value());
    sdk->persistentPostbackManager()->submitPostback(HLPostbackRequest::postbackRequestWithURL(nullptr, Value()));
    EXPECT_EQ(listener->count("Refused a postback without a URL."), 2u);
    EXPECT_TRUE(sdk->persistentPostbackManager()->postbackQueue().empty());
    ASSERT_TRUE(settle());
    sdk->postbackService()->dispatchPostbackAsync(url("nobody"), nullptr);  // sent once, reported to nobody
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("nobody"), 1u);
}

TEST_F(HLPostbackTest, WithoutABodyAGetWithABodyAJsonPost) {
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    const std::string stamp = Value(NSDate::date().timeIntervalSince1970() * 1000).stringValue();
    auto manager = sdk->persistentPostbackManager();
    manager->submitPostback(NSURL::URLWithString(service.postbackUrl("get")), Value());
    manager->submitPostback(NSURL::URLWithString(service.postbackUrl("post") + "?a=1"),
                            Value::dictionary({{"name", "v w"}, {"n", "2"}}));
    ASSERT_TRUE(settle());

    std::vector<RecordedRequest> requests = service.server().requests();
    auto find = [&](std::string_view prefix) {
        for (const auto& r : requests)
            if (r.target.starts_with(prefix)) return r;
        ADD_FAILURE() << "no request to " << prefix;
        return RecordedRequest();
    };
    // "&postback_ts=" is appended whether or not there is a query.
    RecordedRequest get = find("/postback/get");
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.target, "/postback/get&postback_ts=" + stamp);
    EXPECT_TRUE(get.body.empty());
    EXPECT_FALSE(get.header("Content-Type"));

    RecordedRequest post = find("/postback/post");
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.target, "/postback/post?a=1&postback_ts=" + stamp);
    EXPECT_EQ(post.header("Content-Type"), "application/json");
    EXPECT_EQ(post.header("Content-Length"), std::to_string(post.body.size()));
    EXPECT_EQ(HalcyonService::jsonBody(post), Value::dictionary({{"name", "v w"}, {"n", "2"}}));
}

TEST_F(HLPostbackTest, RetriesRunOnThePostbackQueueWithSlot78sCount) {
    service.scriptStatuses(HalcyonService::postbackPath("busy"), {503, 503, 503, 503});
    Ref<HLSdk> sdk = startSdk(postbackSettings(2));
    auto delegate = NSObject::alloc<HLPostbackTestDelegate>();
    sdk->postbackService()->dispatchPostbackAsync(url("busy"), Value(), delegate);
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("busy"), 1u);
    driver().advance(0.999);
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("busy"), 1u);
    driver().advance(0.001);  // slot 13: 1000 ms
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("busy"), 2u);
    EXPECT_TRUE(delegate->outcomes().empty());
    driver().advance(1);
    ASSERT_TRUE(settle());
    driver().advance(1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("busy"), 3u);  // two retries after the first try
    ASSERT_EQ(delegate->outcomes().size(), 1u);
    EXPECT_FALSE(delegate->outcomes()[0].success);
    EXPECT_EQ(delegate->outcomes()[0].code, 503);
    EXPECT_EQ(delegate->outcomes()[0].queue, "HLTaskManager.postback");
    EXPECT_EQ(listener->count("Scheduling task execution of HLTaskRepeatRequest on queue 2..."), 2u);

    sdk->postbackService()->dispatchPostbackAsync(url("fine"), Value(), delegate);
    ASSERT_TRUE(settle());
    ASSERT_EQ(delegate->outcomes().size(), 2u);
    EXPECT_TRUE(delegate->outcomes()[1].success);
    EXPECT_EQ(delegate->outcomes()[1].url, urlText("fine"));
    EXPECT_EQ(delegate->outcomes()[1].queue, "HLTaskManager.postback");
}

TEST_F(HLPostbackTest, UnreadableStoredQueuesGiveAnEmptyQueueAndAnErrorLine) {
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    const NSData archive = NSKeyedArchiver::archivedDataWithRootObject(Value::array({storedRequest("ok", 0)}));
    struct Case {
        std::string name;
        NSData bytes;
    };
    std::vector<Case> cases = {
        {"garbage", NSData::dataWithString("not an archive at all")},
        {"truncated", archive.subdataWithRange(0, archive.length() / 2)},
        {"empty", NSData()},
        {"wrong root", NSKeyedArchiver::archivedDataWithRootObject(Value::dictionary({{"a", storedRequest("x", 0)}}))},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.bytes.writeToFile(queueFile(), true));
        size_t before = listener->count("Unable to read the stored postback queue; starting with an empty one.");
        Ref<HLSdk> next = restartSdk(postbackSettings());
        EXPECT_TRUE(next->persistentPostbackManager()->postbackQueue().empty()) << c.name;
        EXPECT_EQ(listener->count("Unable to read the stored postback queue; starting with an empty one."), before + 1)
            << c.name;
    }
    EXPECT_EQ(sent("ok"), 0u);

    // Bad elements go one by one; the good ones stay.
    auto withoutURL = NSObject::alloc<HLPostbackRequest>()->initWithURL(nullptr, Value(), 0);
    storeQueue({Value("a string"), Value(withoutURL), storedRequest("ok", 0), Value::dictionary({})});
    service.scriptStatuses(HalcyonService::postbackPath("ok"), {500});
    Ref<HLSdk> next = restartSdk(postbackSettings());
    EXPECT_EQ(entriesOf(next->persistentPostbackManager()->postbackQueue()),
              (std::vector<HLStoredPostback>{entry("ok", 1)}));
    EXPECT_EQ(listener->count("Skipping a stored entry that is not a postback"), 2u);
    EXPECT_EQ(listener->count("Skipping a stored postback without a URL"), 1u);
    EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("ok", 1)}));
}

TEST_F(HLPostbackTest, AFailedWriteKeepsThePreviousFileAndStillSends) {
    // Still waiting after the second one's success sends it again.
    service.scriptStatuses(HalcyonService::postbackPath("first"), {500, 500});
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    auto manager = sdk->persistentPostbackManager();
    manager->submitPostback(url("first"), Value());
    ASSERT_TRUE(settle());
    platform::testing::FileSystemConditions::setWritesFail(home() + "/Library/Caches/hl", true);
    manager->submitPostback(url("second"), Value());
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("second"), 1u);
    EXPECT_TRUE(listener->contains("ERROR [HLPersistentPostbackManager] Unable to export postback queue to disk."));
    EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("first", 1)}));
    platform::testing::FileSystemConditions::setWritesFail(home() + "/Library/Caches/hl", false);
}

TEST_F(HLPostbackTest, PostbacksDeliveredOnAFullDiskAreNotSentAgainOnceTheQueueIsEmpty) {
    // Stored by a run that had room; this one has none.
    storeQueue({storedRequest("x", 0), storedRequest("y", 1)});
    const std::string cache = home() + "/Library/Caches/hl";
    platform::testing::FileSystemConditions::setWritesFail(cache, true);
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    sdk->persistentPostbackManager()->submitPostback(url("fresh"), Value());
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("x") + sent("y") + sent("fresh"), 3u);
    // The file could not say they went: it is gone instead.
    EXPECT_FALSE(std::filesystem::exists(queueFile()));
    EXPECT_TRUE(listener->contains("WARN [HLPersistentPostbackManager] Removed the postback queue file instead: the "
                                   "queue is empty."));

    // The next starts, on the full disk and with room again, send nothing.
    restartSdk(postbackSettings());
    platform::testing::FileSystemConditions::setWritesFail(cache, false);
    restartSdk(postbackSettings());
    EXPECT_EQ(sent("x"), 1u);
    EXPECT_EQ(sent("y"), 1u);
    EXPECT_EQ(sent("fresh"), 1u);
}

// The key's file cannot be read at a start (the file-system seam): what is
// submitted meanwhile neither writes over it nor, once delivered, removes it;
// the next write reads it and keeps its entry, which the next start sends once.
TEST_F(HLPostbackTest, AQueueFileUnreadableAtAStartIsNeitherWrittenOverNorRemoved) {
    storeQueue({storedRequest("stored", 0)});
    const NSData saved = *NSData::dataWithContentsOfFile(queueFile());
    platform::testing::FileSystemConditions::setReadsFail(queueFile(), EIO);
    service.scriptStatuses(HalcyonService::postbackPath("failing"), {500});
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    auto manager = sdk->persistentPostbackManager();
    manager->submitPostback(url("delivered"), Value());
    manager->submitPostback(url("failing"), Value());
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("delivered"), 1u);
    EXPECT_EQ(sent("stored"), 0u);
    platform::testing::FileSystemConditions::setReadsFail(queueFile(), std::nullopt);
    EXPECT_TRUE(NSData::dataWithContentsOfFile(queueFile())->isEqual(saved));

    // Its success sends the stalled one again, which is delivered too.
    manager->submitPostback(url("late"), Value());
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("failing"), 2u);
    EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("stored", 0)}));
    restartSdk(postbackSettings());
    EXPECT_EQ(sent("stored"), 1u);
    EXPECT_EQ(sent("delivered"), 1u);
    EXPECT_EQ(sent("late"), 1u);
    EXPECT_TRUE(storedEntries().empty());
}

TEST_F(HLPostbackTest, TheStartUpFlushSendsOnlyWhatWasLoaded) {
    service.scriptStatuses(HalcyonService::postbackPath("stored"), {500, 500});
    storeQueue({storedRequest("stored", 0)});
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    auto manager = sdk->persistentPostbackManager();
    HLQueueBlocker blocker(sdk->taskManager()->postbackQueue());
    manager->submitPostback(url("fresh"), Value());
    manager->flushPostbackQueue();  // as a start-up flush that came after the submission
    blocker.release();
    ASSERT_TRUE(settle());
    EXPECT_EQ(sent("fresh"), 1u);
    EXPECT_EQ(sent("stored"), 2u);
    EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("stored", 2)}));
}

TEST_F(HLPostbackTest, SubmissionsFromEveryThreadAtOnce) {
    service.server().route("POST", HalcyonService::postbackPath("w1"), simulator::Answer::withStatus(404));
    Ref<HLSdk> sdk = startSdk(postbackSettings());
    auto manager = sdk->persistentPostbackManager();
    auto tasks = sdk->taskManager();
    constexpr size_t kPerWriter = 6;
    std::atomic<int> done{0};
    auto submitAll = [&, manager](int writer) {
        for (size_t i = 0; i < kPerWriter; ++i) {
            manager->submitPostback(url("w" + std::to_string(writer)), Value::dictionary({{"i", std::to_string(i)}}));
            if (i % 3 == 0) manager->flushStalledPostbacks();
        }
        ++done;
    };
    tasks->mainQueue()->addOperationWithBlock([&] { submitAll(0); });
    tasks->backgroundQueue()->addOperationWithBlock([&] { submitAll(1); });
    tasks->postbackQueue()->addOperationWithBlock([&] { submitAll(2); });
    submitAll(3);
    ASSERT_TRUE(driver().runUntil([&] { return done.load() == 4; }, 10));
    ASSERT_TRUE(settle());
    // The others went once each; writer 1's postbacks (always refused) wait
    // in the file and the stalled list, or went after their third try.
    EXPECT_EQ(sent("w0") + sent("w2") + sent("w3"), 3 * kPerWriter);
    std::vector<HLStoredPostback> stored = storedEntries();
    EXPECT_EQ(stored, entriesOf(manager->postbackQueue()));
    EXPECT_EQ(entriesOf(manager->stalledPostbacks()).size(), stored.size());
    size_t tries = 3 * (kPerWriter - stored.size());
    for (const auto& e : stored) {
        EXPECT_EQ(e.url, urlText("w1"));
        tries += static_cast<size_t>(e.attempts);
    }
    EXPECT_EQ(sent("w1"), tries);
}

// ---- Several keys, and the file earlier versions shared

TEST_F(HLPostbackTest, TwoKeysInOneProcessKeepAndSendOnlyTheirOwnPostbacks) {
    service.scriptStatuses(HalcyonService::postbackPath("a"), {500});
    service.scriptStatuses(HalcyonService::postbackPath("b"), {500});
    Ref<HLSdk> first = launch(kHLTestSdkKey, postbackSettings(), true);
    Ref<HLSdk> second = launch(kOtherKey, postbackSettings(), true);
    first->persistentPostbackManager()->submitPostback(url("a"), Value());
    second->persistentPostbackManager()->submitPostback(url("b"), Value());
    ASSERT_TRUE(settle());
    EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("a", 1)}));
    EXPECT_EQ(storedEntries(kOtherFile), (std::vector<HLStoredPostback>{entry("b", 1)}));

    // The next start: the second key, first up, empties the over-full cache
    // folder; neither key's pending postbacks go with it, and each key sends
    // its own once.
    restartProcessState();
    ASSERT_TRUE(NSData::dataWithString(std::string(2 << 20, 'x')).writeToFile(queueFile("big.bin"), true));
    auto dropping = postbackSettings();
    dropping->putBool(true, kHLSlotCacheCleanupEnabled);
    dropping->putInt(1, kHLSlotCacheMaxSizeMb);
    // No expiry: the file's real modification time against the virtual clock
    // would otherwise make it expire instead of being counted, now and then.
    dropping->putInt(-1, kHLSlotCacheFileTtlSeconds);
    Ref<HLSdk> nextSecond = launch(kOtherKey, dropping, false);
    EXPECT_EQ(nextSecond->statsManager()->valueOfKey("cache_drop_count"), Value(1));
    Ref<HLSdk> nextFirst = launch(kHLTestSdkKey, postbackSettings(), false);
    EXPECT_EQ(sent("a"), 2u);
    EXPECT_EQ(sent("b"), 2u);
    EXPECT_TRUE(storedEntries().empty());
    EXPECT_TRUE(storedEntries(kOtherFile).empty());
}

TEST_F(HLPostbackTest, TheFileEarlierVersionsSharedIsAdoptedByOneKeyAndSentOnce) {
    storeQueue({storedRequest("x", 0), storedRequest("y", 1)}, kSharedFile);
    // Refused at the start-up flush and again when y's success sends the
    // stalled ones: two dispatches by the adopting key alone.
    service.scriptStatuses(HalcyonService::postbackPath("x"), {500, 500});
    launch(kHLTestSdkKey, postbackSettings(), true);
    launch(kOtherKey, postbackSettings(), true);
    EXPECT_EQ(sent("x"), 2u);
    EXPECT_EQ(sent("y"), 1u);
    EXPECT_FALSE(std::filesystem::exists(queueFile(kSharedFile)));
    EXPECT_EQ(listener->count("Adopted 2 postbacks of the shared postback file."), 1u);
    // The failed one waits in the adopting key's file alone.
    EXPECT_EQ(storedEntries(), (std::vector<HLStoredPostback>{entry("x", 2)}));
    EXPECT_FALSE(std::filesystem::exists(queueFile(kOtherFile)));

    restartProcessState();
    launch(kOtherKey, postbackSettings(), false);
    launch(kHLTestSdkKey, postbackSettings(), false);
    EXPECT_EQ(sent("x"), 3u);
    EXPECT_EQ(sent("y"), 1u);
    EXPECT_TRUE(storedEntries().empty());
}

TEST_F(HLPostbackTest, TheSharedFileWaitsWhileTheKeysFileCannotTakeItAndIsThenSentOnce) {
    storeQueue({storedRequest("x", 0), storedRequest("y", 1)}, kSharedFile);
    const std::string cache = home() + "/Library/Caches/hl";
    const std::string claimed = "queued_postbacks_1.69b4ffd28f4e13bafd57c4c268a1936dedf169f1.adopted.plist";
    // The test key first at the first start, the other key first later.
    auto launchBoth = [&](bool first) {
        if (first) launch(kHLTestSdkKey, postbackSettings(), true);
        launch(kOtherKey, postbackSettings(), first);
        if (!first) launch(kHLTestSdkKey, postbackSettings(), false);
    };
    // A full disk: claimed, but this key's file cannot take the entries, so
    // none is sent, by either key, at this start or the next.
    platform::testing::FileSystemConditions::setWritesFail(cache, true);
    launchBoth(true);
    restartProcessState();
    launchBoth(false);
    EXPECT_EQ(sent("x") + sent("y"), 0u);
    EXPECT_EQ(listener->count("Unable to take the shared postback file's 2 postbacks into this key's file; they wait "
                              "for the next start."),
              2u);
    EXPECT_EQ(NSFileManager::defaultManager()->contentsOfDirectoryAtPath(cache), std::vector<std::string>{claimed});

    // Room again: sent once each, by the adopting key, and the claimed file goes.
    platform::testing::FileSystemConditions::setWritesFail(cache, false);
    for (int start = 0; start < 2; ++start) {
        restartProcessState();
        launchBoth(false);
    }
    EXPECT_EQ(sent("x"), 1u);
    EXPECT_EQ(sent("y"), 1u);
    EXPECT_EQ(NSFileManager::defaultManager()->contentsOfDirectoryAtPath(cache), std::vector<std::string>{kOwnFile});
    EXPECT_TRUE(storedEntries().empty());
}

TEST_F(HLPostbackTest, AClaimedSharedFileThatCannotBeReadWaitsForTheNextStart) {
    storeQueue({storedRequest("x", 0), storedRequest("y", 1)}, kSharedFile);
    const std::string claimed = queueFile("queued_postbacks_1.69b4ffd28f4e13bafd57c4c268a1936dedf169f1.adopted.plist");
    platform::testing::FileSystemConditions::setReadsFail(claimed, EMFILE);
    launch(kHLTestSdkKey, postbackSettings(), true);
    EXPECT_EQ(sent("x") + sent("y"), 0u);
    EXPECT_TRUE(std::filesystem::exists(claimed));

    platform::testing::FileSystemConditions::setReadsFail(claimed, std::nullopt);
    restartProcessState();
    launch(kHLTestSdkKey, postbackSettings(), false);
    EXPECT_EQ(sent("x"), 1u);
    EXPECT_EQ(sent("y"), 1u);
    EXPECT_FALSE(std::filesystem::exists(claimed));
}

TEST_F(HLPostbackTest, AnAdoptionThatAKillLeftUnfinishedSendsEachEntryOnce) {
    // Killed after the key's file took the shared file's entries and before
    // the claimed copy was removed.
    storeQueue({storedRequest("x", 0)});
    storeQueue({storedRequest("x", 0), storedRequest("y", 0)},
               "queued_postbacks_1.69b4ffd28f4e13bafd57c4c268a1936dedf169f1.adopted.plist");
    launch(kHLTestSdkKey, postbackSettings(), true);
    EXPECT_EQ(sent("x"), 1u);
    EXPECT_EQ(sent("y"), 1u);
    EXPECT_EQ(NSFileManager::defaultManager()->contentsOfDirectoryAtPath(home() + "/Library/Caches/hl"),
              std::vector<std::string>{kOwnFile});
    EXPECT_TRUE(storedEntries().empty());
}

}  // namespace
