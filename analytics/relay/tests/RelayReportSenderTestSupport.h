// The report sender tests' fixture: the Relay fixture with the sender's
// stored blocks and block files counted, restarts of the sender (its index
// file kept or lost), retransmission on the sender's queue, what the report
// endpoint took, and stored files laid out as earlier versions left them.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analytics/relay/tests/RelayControllerTestSupport.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/PropertyList.h"

// A stand-in trigger block: "<name>" padded with dots to `size` bytes.
inline NSData namedBlock(const std::string& name, size_t size = 0) {
    std::string bytes = "<" + name + ">";
    if (bytes.size() < size) bytes.resize(size, '.');
    return NSData::dataWithString(bytes);
}

// Makes the record that names the block file `identifier` in the archived
// index `node` into one record per item of it, as the version before named
// the trigger blocks of a hand-over it stored in one shared file.
inline void nameItemsOfSharedFile(Value& node, const std::string& identifier, const std::vector<std::pair<int64_t, int64_t>>& itemSizes) {
    if (Value::Array* elements = node.mutableArray()) {
        Value::Array rewritten;
        for (Value& element : *elements) {
            const ValueDictionary* record = element.dictionary();
            const Value* fields = record ? record->find("$fields") : nullptr;
            const Value* named = fields && fields->dictionary() ? fields->dictionary()->find("identifier") : nullptr;
            if (!named || !named->string() || *named->string() != identifier) {
                nameItemsOfSharedFile(element, identifier, itemSizes);
                rewritten.push_back(element);
                continue;
            }
            for (const auto& [item, size] : itemSizes) {
                Value copy = element;
                ValueDictionary* copyFields = copy.mutableDictionary()->find("$fields")->mutableDictionary();
                copyFields->set("item", Value(item));
                copyFields->set("size", Value(size));
                rewritten.push_back(std::move(copy));
            }
        }
        *elements = std::move(rewritten);
        return;
    }
    if (ValueDictionary* fields = node.mutableDictionary())
        for (const std::string& key : fields->keys()) nameItemsOfSharedFile(*fields->find(key), identifier, itemSizes);
}

class RelayReportSenderTest : public RelayControllerTest {
protected:
    Ref<OrreryRelayCBReportSender> sender() { return OrreryRelayCBReportSender::instance(); }
    size_t storedBlocks() {
        auto index = sender()->relayCBReportDataIndex();
        return index ? index->notSentBlocksForDataKey(OrreryRelayCBReportSender::relayCBReportDataKey()).size() : 0;
    }
    // The next start's sender; the index file lost first when `loseIndex`.
    void restartSender(bool loseIndex) {
        const std::string indexFile = sender()->relayCBReportDataIndex()->indexFilePath();
        OrreryRelayCBReportSender::cleanup();
        if (loseIndex) {
            ASSERT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(indexFile));
        }
        OrreryRelayCBReportSender::setupInstanceWithQueue(sessionQueue);
    }
    void retransmit() {
        auto s = sender();
        dispatch_async(sessionQueue, [s] { s->retransmitNotSentBlocks(); });
        settle();
    }
    // How often the reports that the endpoint answered carried the block
    // named `name` (see namedBlock), twice in one report counting twice.
    size_t timesTaken(const std::string& name) {
        const std::string marker = "<" + name + ">";
        size_t taken = 0;
        for (const auto& received : relay.reports()) {
            if (!received.answered) continue;
            for (size_t at = received.request.body.find(marker); at != std::string::npos;
                 at = received.request.body.find(marker, at + marker.size()))
                ++taken;
        }
        return taken;
    }
    // Rewrites the saved index to name the items of the block file
    // `identifier` as the version before did (see nameItemsOfSharedFile).
    static bool nameItemsInSavedIndex(const Ref<OrreryDataSenderIndex>& index, const std::string& identifier,
                                      const std::vector<std::pair<int64_t, int64_t>>& itemSizes) {
        index->waitForPendingChanges();
        std::optional<Value> archive = platform::PropertyList::valueWithContentsOfFile(index->indexFilePath());
        if (!archive) return false;
        nameItemsOfSharedFile(*archive, identifier, itemSizes);
        return platform::PropertyList::writeToFile(*archive, index->indexFilePath());
    }
    static size_t blockFiles() {
        size_t count = 0;
        for (const auto& file : NSFileManager::defaultManager()->contentsOfDirectoryAtPath(OrreryUtil::filePathDirectory()))
            count += OrreryDataSenderBlockInfo::isBlockFileName(file) ? 1 : 0;
        return count;
    }
    // Each block of `names` taken once, and none left: not in the index, not as a file.
    void expectEachTakenOnceAndNothingLeft(const std::vector<std::string>& names) {
        for (const auto& name : names) EXPECT_EQ(timesTaken(name), 1u) << name;
        EXPECT_EQ(storedBlocks(), 0u);
        EXPECT_EQ(blockFiles(), 0u);
    }
    // Once every outcome is in: the one report the endpoint received, decoded
    // (nothing, and a failure, when it received another number).
    std::optional<simulator::RelayReport> soleReport() {
        settle();
        OrreryRelayCallbackReportManager::sharedInstance()->waitForArchiving();
        settle();
        auto reports = relay.reports();
        EXPECT_EQ(reports.size(), 1u);
        if (reports.size() != 1) return std::nullopt;
        EXPECT_TRUE(reports[0].report) << reports[0].error;
        return reports[0].report;
    }
};
