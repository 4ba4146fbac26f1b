// Delivers callback reports: stores every trigger block handed over as a
// block file in its own send index, posts reports built around stored
// blocks to the callback-report endpoint, removes blocks once an answer
// arrived (a head of 200 to 399 whose body then fails is one) and
// retransmits what is left in batches of at most 510 000 bytes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analytics/OrreryDataSenderBase.h"
#include "analytics/OrreryDataSenderIndex.h"
#include "platform/foundation/NSData.h"

class OrreryRelayCBReportSender : public OrreryDataSenderBase, public OrreryHttpAsyncTaskDelegate {
public:
    static constexpr const char* kIndexFileName = "OrreryCBReportSenderIndex.info";
    static constexpr size_t kMaxBatchBytes = 510000;

    // Creates the singleton once, with the queue it works on.
    static void setupInstanceWithQueue(const dispatch_queue_t& queue);
    static Ref<OrreryRelayCBReportSender> instance();
    static void cleanup();
    // What makes the report tasks: the connection-based OrreryHttpAsyncTask.
    using HttpTaskFactory = Ref<OrreryHttpAsyncTask> (*)(const std::string& method, const Ref<NSURL>& url,
                                                        const std::optional<NSData>& body, const Value& headerFields,
                                                        const Ref<OrreryHttpAsyncTaskDelegate>& delegate,
                                                        bool startImmediately);
    static HttpTaskFactory httpAsyncTaskClass();
    // "RelayCBReportDataData_<hash of the API key>_187".
    static std::string relayCBReportDataKey();

    // The base's set-up, then the index (only while Relay monitoring is on):
    // other keys' blocks dropped, blocks that an earlier version left sharing
    // a file given files of their own, block files it lost recovered into it.
    // An index file that cannot be read now is set up so at a later
    // retransmission that can read it.
    Ref<OrreryRelayCBReportSender> initWithQueue(dispatch_queue_t queue);

    // Null while Relay monitoring was off when the sender was made.
    const Ref<OrreryDataSenderIndex>& relayCBReportDataIndex() const { return index_; }

    // Stores one trigger block as a block of the group; the group
    // identifier, or nothing when the block file cannot be written.
    std::optional<std::string> storeRelayCBReportData(const NSData& data, const std::string& groupId);
    void removeStoredDataWithIdentifier(const std::string& identifier);
    // Stores each trigger block as a block of one new group, runs
    // `handedOver` (the caller forgets what the blocks hold) and posts them
    // when the window allows; without an index the report is posted first,
    // unstored. Runs on the sender's queue (waiting for it); answers whether
    // every block was stored (or, without an index, whether the report was
    // sent): otherwise nothing is kept and `handedOver` does not run.
    bool sendRelayReportsData(const std::vector<NSData>& triggerBlocks, const std::function<void()>& handedOver = nullptr);
    void sendData(const std::optional<NSData>& data, const std::string& groupId);

    void retransmitNotSentBlocks() override;
    void didCompleteAllTasks() override;

    void requestSuccessful(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;
    void requestDidFail(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;
    void requestDidCancel(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;

private:
    bool handOverOnQueue(const std::vector<NSData>& triggerBlocks, const std::function<void()>& handedOver);
    // Sets the index up as initWithQueue says, once its file has been read.
    void startIndex();
    static std::optional<NSData> reportAround(const Value& blocks);

    Ref<OrreryDataSenderIndex> index_;
    std::string dataKey_;
    // Set at set-up, then touched on the queue only.
    bool indexStarted_ = false;      // the index file was read and the index set up
    size_t blocksSharingAFile_ = 0;  // an earlier version's, not yet given files of their own
};
