#include "analytics/relay/OrreryRelayCBReportSender.h"

#include <algorithm>
#include <set>

#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/OrrerySession.h"
#include "analytics/OrreryUtil.h"
#include "analytics/relay/OrreryRelayCallbackReportManager.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "analytics/relay/OrreryRelayLog.h"

namespace {
std::mutex senderMutex;
Ref<OrreryRelayCBReportSender>& senderSlot() {
    // Never destroyed: other threads may use it during exit.
    static Ref<OrreryRelayCBReportSender>& instance = *new Ref<OrreryRelayCBReportSender>();
    return instance;
}
}  // namespace

void OrreryRelayCBReportSender::setupInstanceWithQueue(const dispatch_queue_t& queue) {
    std::scoped_lock lock(senderMutex);
    auto& slot = senderSlot();
    if (!slot) slot = NSObject::alloc<OrreryRelayCBReportSender>()->initWithQueue(queue);
}

Ref<OrreryRelayCBReportSender> OrreryRelayCBReportSender::instance() {
    std::scoped_lock lock(senderMutex);
    return senderSlot();
}

void OrreryRelayCBReportSender::cleanup() {
    Ref<OrreryRelayCBReportSender> dropped;
    {
        std::scoped_lock lock(senderMutex);
        dropped = std::move(senderSlot());
    }
    if (dropped && dropped->index_) dropped->index_->waitForPendingChanges();
}

OrreryRelayCBReportSender::HttpTaskFactory OrreryRelayCBReportSender::httpAsyncTaskClass() {
    return static_cast<HttpTaskFactory>(&OrreryHttpAsyncTask::sendMethod);
}

std::string OrreryRelayCBReportSender::relayCBReportDataKey() {
    // A stable hash of the API key: its CRC-32, unsigned.
    auto keyHash = static_cast<uint32_t>(
        OrreryUtil::dataChecksum(NSData::dataWithString(OrreryGlobalVariableStorage::sharedInstance()->apiKey())));
    return "RelayCBReportDataData_" + std::to_string(keyHash) + "_" + std::to_string(OrrerySession::getAgentVersion());
}

Ref<OrreryRelayCBReportSender> OrreryRelayCBReportSender::initWithQueue(dispatch_queue_t queue) {
    OrreryDataSenderBase::initWithQueue(std::move(queue));
    dataKey_ = relayCBReportDataKey();
    if (OrreryGlobalVariableStorage::sharedInstance()->relayMonitoringEnabled()) {
        index_ = OrreryDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFileName);
        startIndex();
    }
    return self<OrreryRelayCBReportSender>();
}

void OrreryRelayCBReportSender::startIndex() {
    // Until the stored index can be read, nothing is set up or recovered:
    // a recovery would bring back the blocks it names, and items of shared
    // files that were answered; new hand-overs are kept meanwhile.
    if (indexStarted_ || !index_->readStoredIndex()) return;
    index_->setupForCurrentDataKey(dataKey_);
    blocksSharingAFile_ = index_->separateSharedBlockFiles(dataKey_);
    index_->recoverBlockFilesForDataKey(dataKey_);
    indexStarted_ = true;
}

std::optional<std::string> OrreryRelayCBReportSender::storeRelayCBReportData(const NSData& data, const std::string& groupId) {
    if (!index_) return std::nullopt;
    auto block = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({data}, dataKey_);
    if (!block) return std::nullopt;
    block->setGroupIdentifier(groupId);
    index_->addBlockInfo(block, dataKey_);
    return groupId;
}

void OrreryRelayCBReportSender::removeStoredDataWithIdentifier(const std::string& identifier) {
    if (index_) index_->removeBlockInfoWithIdentifier(identifier, dataKey_);
}

std::optional<NSData> OrreryRelayCBReportSender::reportAround(const Value& blocks) {
    return OrreryRelayCallbackReportManager::sharedInstance()->dataForSending(blocks);
}

bool OrreryRelayCBReportSender::sendRelayReportsData(const std::vector<NSData>& triggerBlocks,
                                                     const std::function<void()>& handedOver) {
    bool stored = false;
    auto me = self<OrreryRelayCBReportSender>();
    dispatch_sync(queue(), [&] { stored = me->handOverOnQueue(triggerBlocks, handedOver); });
    return stored;
}

bool OrreryRelayCBReportSender::handOverOnQueue(const std::vector<NSData>& triggerBlocks,
                                                const std::function<void()>& handedOver) {
    const std::string groupId = OrreryUtil::generateCFUUID();
    Value items = Value::array({});
    for (const auto& block : triggerBlocks) items.append(Value(block));
    if (!index_) {
        auto report = reportAround(items);
        if (!report) return false;
        sendData(report, groupId);
        if (handedOver) handedOver();
        return true;
    }
    // Each trigger block is a stored block in a file of its own, so
    // retransmission batches them within its size limit, and an answer or a
    // discard that takes some of them leaves no copy of those behind. All or
    // nothing: when one cannot be stored, what their records still hold is
    // reported again.
    auto blocks = OrreryDataSenderBlockInfo::blocksWithItems(triggerBlocks, dataKey_);
    if (blocks.empty()) return false;
    for (const auto& block : blocks) block->setGroupIdentifier(groupId);
    // One change, so the index is saved once for the hand-over.
    index_->addBlockInfos(std::move(blocks), dataKey_);
    // Forgotten by the caller before anything is posted: a kill after this
    // point leaves the blocks alone to be sent, before it the records alone.
    if (handedOver) handedOver();
    if (!hasOngoingTasksWindow()) return true;
    auto report = reportAround(items);
    if (report) sendData(report, groupId);
    return true;
}

void OrreryRelayCBReportSender::sendData(const std::optional<NSData>& data, const std::string& groupId) {
    if (!data) return;
    Ref<OrreryRelaySettings> settings = OrreryRelayEventController::storedSettings();
    Ref<NSURL> url = settings && settings->agentReportUrl() ? NSURL::URLWithString(*settings->agentReportUrl()) : nullptr;
    // Reports go to a web endpoint only; without one the task fails and the
    // blocks stay stored.
    if (url && !OrreryNetworkUtil::isWebURL(url)) {
        OrreryRelayLog::log("OrreryRelayReportSender: the report URL is no http or https URL; the report waits");
        url = nullptr;
    }
    auto task = httpAsyncTaskClass()("POST", url, data, Value::dictionary({{"content-type", "application/octet-stream"}}),
                                                self<OrreryRelayCBReportSender>(), false);
    task->setTag(groupId);
    registerNewTask(task);
    dispatch_async(dispatch_get_main_queue(), [task] { task->start(); });
}

void OrreryRelayCBReportSender::requestSuccessful(const Ref<OrreryHttpAsyncTask>& task,
                                                  const Ref<OrreryHTTPResponse>& response) {
    auto me = self<OrreryRelayCBReportSender>();
    dispatch_async(queue(), [me, task, response] {
        const std::string tag = task->tag().value_or("");
        OrreryRelayLog::log("OrreryRelayReportSender: %@ async http response code: %@, id [%@]", task->method(),
                            std::to_string(response ? response->statusCode() : 0), tag);
        if (!response || !response->isSuccess()) OrreryRelayLog::log("OrreryRelayReportSender: Could not connect to server.");
        if (me->index_) me->index_->setSentReportSuccessfully(true);
        if (!tag.empty()) me->removeStoredDataWithIdentifier(tag);
        me->unregisterTask(task, true);
    });
}

void OrreryRelayCBReportSender::requestDidFail(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) {
    // The answer's head said the server took the report: its blocks go as
    // after any answer, or they would be sent again.
    if (task && task->failureIsDelivery(response, "OrreryRelayReportSender")) {
        requestSuccessful(task, response);
        return;
    }
    auto me = self<OrreryRelayCBReportSender>();
    dispatch_async(queue(), [me, task, response] {
        std::string error = response && response->error() ? response->error()->description() : std::string("(null)");
        OrreryRelayLog::log("OrreryRelayReportSender: %@ Could not connect to server: %@", task->method(), error);
        me->unregisterTask(task, false);
    });
}

void OrreryRelayCBReportSender::requestDidCancel(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>&) {
    auto me = self<OrreryRelayCBReportSender>();
    dispatch_async(queue(), [me, task] { me->unregisterTask(task, false); });
}

void OrreryRelayCBReportSender::didCompleteAllTasks() {
    if (index_) index_->discardOutdatedBlocksForDataKey(dataKey_);
}

void OrreryRelayCBReportSender::retransmitNotSentBlocks() {
    if (!index_) return;
    startIndex();
    if (!hasOngoingTasksWindow()) return;
    // Blocks an earlier version left sharing a file wait until each has one
    // of its own (a full disk at the start may have kept them); no block
    // comes to share one later.
    if (blocksSharingAFile_ > 0) blocksSharingAFile_ = index_->separateSharedBlockFiles(dataKey_);
    std::set<std::string> inFlight;
    for (const auto& task : runningTasks())
        if (auto tag = task->tag(); tag && !tag->empty()) inFlight.insert(*tag);
    auto blocks = index_->notSentBlocksForDataKey(dataKey_);
    OrreryRelayLog::log("OrreryRelayReportSender: %@, Not sent blocks count [%@]", std::string("retransmitNotSentBlocks"),
                        std::to_string(blocks.size()));
    // In flight, or still sharing a file.
    auto passedOver = [&](const Ref<OrreryDataSenderBlockInfo>& block) {
        auto group = block->groupIdentifier();
        return inFlight.count(block->identifier()) > 0 || (group && inFlight.count(*group) > 0) ||
               block->sharedFileItem().has_value();
    };
    size_t i = 0;
    while (i < blocks.size()) {
        if (passedOver(blocks[i])) {
            ++i;
            continue;
        }
        if (!hasOngoingTasksWindow()) break;
        auto first = blocks[i++];
        // A block whose file is gone, or fails its checksum, is dropped
        // (logged): never sent. One whose file cannot be read now keeps its
        // place and its group for the next walk.
        bool unreadable = false;
        auto firstItems = first->items(&unreadable);
        if (!firstItems) {
            if (!unreadable) index_->removeBlockInfo(first, dataKey_);
            continue;
        }
        const std::string groupId = OrreryUtil::generateCFUUID();
        first->setGroupIdentifier(groupId);
        Value items = Value::array({});
        for (const NSData& item : *firstItems) items.append(Value(item));
        uint64_t size = first->size();
        size_t added = 1;
        while (i < blocks.size()) {
            const auto& next = blocks[i];
            if (passedOver(next)) {
                ++i;
                continue;
            }
            if (size + next->size() > kMaxBatchBytes) break;
            ++i;
            auto nextItems = next->items(&unreadable);
            if (!nextItems) {
                if (!unreadable) index_->removeBlockInfo(next, dataKey_);
                continue;
            }
            next->setGroupIdentifier(groupId);
            for (const NSData& item : *nextItems) items.append(Value(item));
            size += next->size();
            ++added;
        }
        inFlight.insert(groupId);
        OrreryRelayLog::log("OrreryRelayReportSender: %@, Payload size %@, reports added %@", std::string("retransmitNotSentBlocks"),
                            std::to_string(size), std::to_string(added));
        sendData(reportAround(items), groupId);
    }
}
