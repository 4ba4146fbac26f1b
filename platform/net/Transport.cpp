#include "platform/net/Transport.h"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

#include "platform/foundation/Hook.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NetworkConditions.h"
#include "platform/net/TrustedAuthorities.h"
#include "platform/runtime/CallCatching.h"

namespace platform::net {

namespace {

using Clock = std::chrono::steady_clock;

Hook<void(const std::string& url)>& transferPause() {
    static auto* hook = new Hook<void(const std::string& url)>;  // never destroyed: transfers may run during exit
    return *hook;
}

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A failed certificate check by its verification result: the platform's
// finer codes for dates and unknown roots, -1202 for the rest (a name that
// does not match included).
int64_t certificateErrorCode(long verifyResult) {
    switch (verifyResult) {
        case X509_V_ERR_CERT_HAS_EXPIRED: return NSURLErrorServerCertificateHasBadDate;
        case X509_V_ERR_CERT_NOT_YET_VALID: return NSURLErrorServerCertificateNotYetValid;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return NSURLErrorServerCertificateHasUnknownRoot;
        default: return NSURLErrorServerCertificateUntrusted;
    }
}

int64_t errorCodeFor(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return NSURLErrorCannotFindHost;
        case CURLE_COULDNT_CONNECT: return NSURLErrorCannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT: return NSURLErrorTimedOut;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS: return NSURLErrorServerCertificateUntrusted;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_CLIENTCERT: return NSURLErrorSecureConnectionFailed;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE: return NSURLErrorNetworkConnectionLost;
        case CURLE_TOO_MANY_REDIRECTS: return NSURLErrorHTTPTooManyRedirects;
        case CURLE_URL_MALFORMAT: return NSURLErrorBadURL;
        // The scheme was checked before the transfer: an unsupported protocol
        // here is a reply that is no HTTP (e.g. HTTP/0.9 garbage).
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY: return NSURLErrorBadServerResponse;
        default: return NSURLErrorUnknown;
    }
}

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return std::string(s);
}

}  // namespace

}  // namespace platform::net

namespace platform::testing {

void NetworkConditions::setTransferPause(std::function<void(const std::string& url)> pause) {
    net::transferPause().set(std::move(pause));
}

}  // namespace platform::testing

namespace platform::net {

void CancelToken::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

void CancelToken::attach(void* multi) {
    std::lock_guard lock(mutex_);
    multi_ = multi;
}

void CancelToken::detach() {
    std::lock_guard lock(mutex_);
    multi_ = nullptr;
}

// One transfer: curl callbacks, progress tracking and the wait loop.
class HopRunner {
public:
    HopRunner(const Hop& hop, HopHandler& handler, CancelToken& token) : hop_(hop), handler_(handler), token_(token) {}

    HopResult run() {
        initializeCurlOnce();
        CURL* easy = curl_easy_init();
        CURLM* multi = curl_multi_init();
        curl_slist* headers = nullptr;
        HopResult result;
        if (!easy || !multi) {
            result.errorCode = NSURLErrorUnknown;
        } else {
            headers = configure(easy);
            curl_multi_add_handle(multi, easy);
            token_.attach(multi);
            result = loop(multi);
            token_.detach();
            curl_multi_remove_handle(multi, easy);
        }
        curl_slist_free_all(headers);
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
        return result;
    }

private:
    curl_slist* configure(CURL* easy) {
        curl_easy_setopt(easy, CURLOPT_URL, hop_.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
        // Verification is never switched off; the process's added authorities
        // are trusted besides the system's.
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        if (TrustedAuthorities::count() > 0)
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &HopRunner::sslContextCallback);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HopRunner::headerCallback);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HopRunner::writeCallback);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &HopRunner::progressCallback);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);

        bool sendsBody = hop_.method != "GET" && hop_.method != "HEAD";
        if (hop_.method == "GET") {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else if (hop_.method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else {
            if (hop_.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, hop_.method.c_str());
            // Always a body (maybe empty), so Content-Length goes out and the
            // server never waits for a body that is not coming.
            static const char empty[] = "";
            const char* bytes = hop_.body ? reinterpret_cast<const char*>(hop_.body->bytes()) : empty;
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bytes);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(hop_.body ? hop_.body->length() : 0));
        }

        curl_slist* list = nullptr;
        for (const auto& [name, value] : hop_.headers)
            list = curl_slist_append(list, (value.empty() ? name + ";" : name + ": " + value).c_str());
        // libcurl's own fields that the caller did not ask for go away.
        for (const char* own : {"Accept", "Expect"})
            if (!findField(hop_.headers, own)) list = curl_slist_append(list, (std::string(own) + ":").c_str());
        if (sendsBody && !findField(hop_.headers, "Content-Type")) list = curl_slist_append(list, "Content-Type:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
        return list;
    }

    // Seconds of this hop counted against the total time-out: all but the
    // time spent in the handler's callbacks.
    double spent() const {
        return std::chrono::duration<double>(Clock::now() - startedAt_).count() - callbackSeconds_;
    }

    HopResult loop(CURLM* multi) {
        const double timeout = hop_.timeout > 0 ? hop_.timeout : 60;
        const double total = hop_.totalTimeout;
        startedAt_ = lastActivity_ = Clock::now();
        HopResult result;
        auto pause = transferPause().get();
        for (;;) {
            if (pause) (*pause)(hop_.url);
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                result.errorCode = NSURLErrorUnknown;
                break;
            }
            // The budget is judged before a finished transfer is taken: an
            // answer that came in while the process stood stopped past its
            // total time-out is late, complete as it may lie in the socket.
            // (A cancel still wins: the load checks it first.)
            double left = total > 0 ? total - spent() : timeout;
            if (left <= 0) {
                result.errorCode = NSURLErrorTimedOut;
                break;
            }
            if (running == 0) break;
            if (token_.isCancelled()) {
                result.end = HopResult::End::Cancelled;
                break;
            }
            double idle = std::chrono::duration<double>(Clock::now() - lastActivity_).count();
            if (idle >= timeout) {
                result.errorCode = NSURLErrorTimedOut;
                break;
            }
            double wait = std::min(timeout - idle, left);
            int waitMs = static_cast<int>(wait * 1000) + 1;
            curl_multi_poll(multi, nullptr, 0, std::min(waitMs, 1000), nullptr);
        }
        result.spent = spent();
        if (result.end == HopResult::End::Cancelled || result.errorCode != 0) return result;
        int left = 0;
        CURLcode code = CURLE_OK;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            code = message->data.result;
            curl_easy_getinfo(message->easy_handle, CURLINFO_SSL_VERIFYRESULT, &verifyResult_);
        }
        if (endedByHandler_) result.end = HopResult::End::EndedByHandler;
        else if (token_.isCancelled()) result.end = HopResult::End::Cancelled;
        else if (code == CURLE_OK) result.end = HopResult::End::Complete;
        else if (code == CURLE_PEER_FAILED_VERIFICATION) result.errorCode = certificateErrorCode(verifyResult_);
        else result.errorCode = errorCodeFor(code);
        return result;
    }

    static CURLcode sslContextCallback(CURL*, void* sslContext, void*) {
        TrustedAuthorities::applyToSSLContext(sslContext);
        return CURLE_OK;
    }

    static size_t headerCallback(char* data, size_t size, size_t count, void* self) {
        auto* runner = static_cast<HopRunner*>(self);
        size_t length = size * count;
        return runner->onHeaderLine(std::string_view(data, length)) ? length : 0;
    }

    bool onHeaderLine(std::string_view line) {
        lastActivity_ = Clock::now();
        if (token_.isCancelled() || endedByHandler_) return false;
        if (line.substr(0, 5) == "HTTP/") {
            size_t space = line.find(' ');
            status_ = space == std::string_view::npos ? 0 : std::atoi(std::string(line.substr(space + 1, 3)).c_str());
            fields_.clear();
            return true;
        }
        if (line == "\r\n" || line == "\n") {
            if (status_ >= 100 && status_ < 200) return true;  // interim head
            auto before = Clock::now();
            bool go = handler_.onHead(status_, fields_);
            lastActivity_ = Clock::now();
            callbackSeconds_ += std::chrono::duration<double>(lastActivity_ - before).count();
            if (!go) endedByHandler_ = true;
            return go && !token_.isCancelled();
        }
        if ((line[0] == ' ' || line[0] == '\t') && !fields_.empty()) {
            fields_.back().second += " " + trim(line);
            return true;
        }
        size_t colon = line.find(':');
        if (colon != std::string_view::npos) fields_.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        return true;
    }

    static size_t writeCallback(char* data, size_t size, size_t count, void* self) {
        auto* runner = static_cast<HopRunner*>(self);
        size_t length = size * count;
        auto before = runner->lastActivity_ = Clock::now();
        if (runner->endedByHandler_ || runner->token_.isCancelled()) return 0;
        bool go = runner->handler_.onData(data, length);
        runner->callbackSeconds_ += std::chrono::duration<double>(Clock::now() - before).count();
        if (!go) {
            runner->endedByHandler_ = true;
            return 0;
        }
        return length;
    }

    static int progressCallback(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
        auto* runner = static_cast<HopRunner*>(self);
        if (downloaded != runner->downloaded_ || uploaded != runner->uploaded_) {
            runner->downloaded_ = downloaded;
            runner->uploaded_ = uploaded;
            runner->lastActivity_ = Clock::now();
        }
        return runner->token_.isCancelled() ? 1 : 0;
    }

    const Hop& hop_;
    HopHandler& handler_;
    CancelToken& token_;
    Clock::time_point lastActivity_;
    Clock::time_point startedAt_;
    long verifyResult_ = 0;  // the certificate check's, when the transfer failed it
    double callbackSeconds_ = 0;
    curl_off_t downloaded_ = 0, uploaded_ = 0;
    int status_ = 0;
    HeaderList fields_;
    bool endedByHandler_ = false;
};

HopResult performHop(const Hop& hop, HopHandler& handler, CancelToken& token) {
    return HopRunner(hop, handler, token).run();
}

namespace {

// Threads are started on demand up to the limit and live for the process.
class TransportPool {
public:
    static TransportPool& shared() {
        static auto* pool = new TransportPool();  // never destroyed: transfers may run at exit
        return *pool;
    }

    void post(Block job) {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (jobs_.size() > static_cast<size_t>(idle_) && threads_ < kMaxThreads) {
            ++threads_;
            std::thread([this] { work(); }).detach();
        }
        available_.notify_one();
    }

private:
    static constexpr int kMaxThreads = 16;

    void work() {
        for (;;) {
            Block job;
            {
                std::unique_lock lock(mutex_);
                ++idle_;
                available_.wait(lock, [this] { return !jobs_.empty(); });
                --idle_;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            runtime::callAtBoundary(job, "URL transfer");
        }
    }

    std::mutex mutex_;
    std::condition_variable available_;
    std::deque<Block> jobs_;
    int threads_ = 0;
    int idle_ = 0;  // threads waiting for a job
};

}  // namespace

void runOnTransportPool(Block job) { TransportPool::shared().post(std::move(job)); }

}  // namespace platform::net
