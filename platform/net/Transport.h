// Internal to the net module: one HTTP exchange over libcurl (no redirect
// followed), its cancellation, and the pool that runs the asynchronous loads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/NSData.h"
#include "platform/net/HeaderFields.h"
#include "platform/runtime/NSObject.h"

namespace platform::net {

// One request on the wire: exactly these header fields plus Host and, for
// methods other than GET and HEAD, Content-Length.
struct Hop {
    std::string url;
    std::string method = "GET";
    HeaderList headers;
    std::optional<NSData> body;
    double timeout = 60;  // real seconds without progress, connecting included
    // Real seconds this hop may take in all (the load's budget left); not
    // positive: no limit.
    double totalTimeout = 0;
};

// Shared by a load and whoever may cancel it; wakes a transfer at once.
class CancelToken {
public:
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }

private:
    friend class HopRunner;
    void attach(void* multi);
    void detach();
    std::mutex mutex_;
    void* multi_ = nullptr;
    std::atomic<bool> cancelled_{false};
};

class HopHandler {
public:
    virtual ~HopHandler() = default;
    // The response head is complete (interim 1xx heads are skipped). True
    // reads the body; false ends the transfer here.
    virtual bool onHead(int status, const HeaderList& headers) = 0;
    // False ends the transfer.
    virtual bool onData(const char* bytes, size_t length) = 0;
};

struct HopResult {
    enum class End { Complete, EndedByHandler, Cancelled, Failed };
    End end = End::Failed;
    int64_t errorCode = 0;  // NSURLErrorDomain code when Failed
    double spent = 0;       // real seconds counted against the total time-out
};

// Runs on the calling thread until the exchange ends. Callbacks of `handler`
// run on this thread and may block; time spent in them is counted against
// neither time-out.
HopResult performHop(const Hop& hop, HopHandler& handler, CancelToken& token);

// Runs jobs on at most 16 transport threads, FIFO.
void runOnTransportPool(Block job);

}  // namespace platform::net
