// https against the loopback server's own test authority: trusted only once
// added, every loading form over TLS, certificate failures with their codes
// before any challenge, the server-trust challenge's failure count, and
// requests that outlast calls interrupted by signals.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "NetTestSupport.h"
#include "platform/net/TrustedAuthorities.h"

using namespace nettest;

namespace {

// Answers each trust challenge as told and records what it saw.
class TLSTestTrustDelegate : public NSURLConnectionDataDelegate, public NSObject {
public:
    bool connectionCanAuthenticateAgainstProtectionSpace(Ref<NSURLConnection>, Ref<NSURLProtectionSpace> space) override {
        ++asked;
        return space->authenticationMethod() == NSURLAuthenticationMethodServerTrust;
    }
    void connectionDidReceiveAuthenticationChallenge(Ref<NSURLConnection>,
                                                     Ref<NSURLAuthenticationChallenge> challenge) override {
        failureCounts.push_back(challenge->previousFailureCount());
        host = challenge->protectionSpace()->host();
        if (cancel) {
            challenge->sender()->cancelAuthenticationChallenge(challenge);
        } else {
            auto trust = challenge->protectionSpace()->serverTrust();
            challenge->sender()->useCredential(NSURLCredential::credentialForTrust(trust), challenge);
        }
    }
    void connectionDidReceiveResponse(Ref<NSURLConnection>, Ref<NSURLResponse>) override { ++responses; }
    void connectionDidReceiveData(Ref<NSURLConnection>, const NSData& data) override { body += data.toString(); }
    void connectionDidFinishLoading(Ref<NSURLConnection>) override { finished = true; }
    void connectionDidFailWithError(Ref<NSURLConnection>, Ref<NSError> e) override { error = e; }
    bool ended() const { return finished || error; }

    bool cancel = false;
    int asked = 0, responses = 0;
    std::vector<int64_t> failureCounts;
    std::string host, body;
    bool finished = false;
    Ref<NSError> error;
};

class TLSTest : public NetTest {
protected:
    void trustServer() { ASSERT_TRUE(TrustedAuthorities::addCertificatesPEM(server.certificateAuthorityPEM())); }

    Ref<TLSTestTrustDelegate> connectTo(const std::string& url, bool cancel = false) {
        auto delegate = NSObject::alloc<TLSTestTrustDelegate>();
        delegate->cancel = cancel;
        NSURLConnection::connectionWithRequest(*requestTo(url), delegate);
        EXPECT_TRUE(driver().runUntil([&] { return delegate->ended(); }, 5));
        return delegate;
    }
};

TEST_F(TLSTest, TheTestAuthorityIsTrustedOnlyOnceAddedAndThenInEveryForm) {
    server.route("GET", "/secret", Answer::ok("over tls"));
    server.route("POST", "/echo", [](const RecordedRequest& r) { return Answer::ok(r.body); });
    EXPECT_EQ(send(*requestTo(server.httpsURL("/secret"))).code(), NSURLErrorServerCertificateHasUnknownRoot);
    EXPECT_EQ(server.requestCount(), 0u);  // refused during the handshake

    trustServer();
    Result sync = send(*requestTo(server.httpsURL("/secret")));
    EXPECT_EQ(sync.error, nullptr);
    EXPECT_EQ(sync.body(), "over tls");
    EXPECT_EQ(send(*requestTo(server.httpsURL("/secret", "localhost"))).body(), "over tls");
    Result post = send(*requestTo(server.httpsURL("/echo"), "POST", std::string("body bytes")));
    EXPECT_EQ(post.body(), "body bytes");
    auto record = server.requests();
    ASSERT_EQ(record.size(), 3u);
    EXPECT_TRUE(record[0].secure);
    EXPECT_EQ(record[2].body, "body bytes");

    Result async;
    bool completed = false;
    NSURLConnection::sendAsynchronousRequest(*requestTo(server.httpsURL("/secret")), nullptr,
                                             [&](Ref<NSURLResponse> r, std::optional<NSData> d, Ref<NSError> e) {
                                                 async = Result{std::move(d), std::move(r), std::move(e)};
                                                 completed = true;
                                             });
    auto delegate = connectTo(server.httpsURL("/secret"));
    ASSERT_TRUE(driver().runUntil([&] { return completed; }, 5));
    EXPECT_EQ(async.body(), "over tls");
    EXPECT_TRUE(delegate->finished);
    EXPECT_EQ(delegate->body, "over tls");
    EXPECT_EQ(delegate->failureCounts, std::vector<int64_t>{0});
    EXPECT_EQ(delegate->host, "127.0.0.1");

    // Plain http on the same server is untouched.
    EXPECT_EQ(get("/secret").body(), "over tls");
}

struct TLSTestFaultyCase {
    simulator::TLSCertificate certificate;
    int64_t code;
};

TEST_F(TLSTest, FaultyCertificatesFailWithTheirCodesBeforeAnyChallenge) {
    trustServer();  // this server's authority: only the other servers' faults remain
    for (auto [certificate, code] :
         {TLSTestFaultyCase{simulator::TLSCertificate::SelfSigned, NSURLErrorServerCertificateHasUnknownRoot},
          TLSTestFaultyCase{simulator::TLSCertificate::Expired, NSURLErrorServerCertificateHasBadDate},
          TLSTestFaultyCase{simulator::TLSCertificate::WrongHost, NSURLErrorServerCertificateUntrusted}}) {
        simulator::LoopbackServer faulty;
        faulty.setTLSCertificate(certificate);
        ASSERT_TRUE(faulty.start());
        ASSERT_TRUE(TrustedAuthorities::addCertificatesPEM(faulty.certificateAuthorityPEM()));
        faulty.route("GET", "/", Answer::ok("must not arrive"));

        Result sync = send(*requestTo(faulty.httpsURL("/")));
        EXPECT_EQ(sync.code(), code);
        EXPECT_EQ(sync.data, std::nullopt);
        EXPECT_EQ(sync.error->userInfo()[NSErrorFailingURLStringKey].stringValue(), faulty.httpsURL("/"));
        // No delegate can accept it: the failure comes before any challenge.
        auto delegate = connectTo(faulty.httpsURL("/"));
        ASSERT_NE(delegate->error, nullptr);
        EXPECT_EQ(delegate->error->code(), code);
        EXPECT_EQ(delegate->asked + delegate->responses, 0);
        EXPECT_TRUE(delegate->failureCounts.empty());
        EXPECT_EQ(faulty.requestCount(), 0u);
    }
}

TEST_F(TLSTest, BadPEMTextAddsNothing) {
    expectLogLine("holds no usable certificate");
    EXPECT_FALSE(TrustedAuthorities::addCertificatesPEM("not a certificate"));
    std::string pem = server.certificateAuthorityPEM();
    std::string broken = pem.substr(0, pem.size() / 2) + "\n-----END CERTIFICATE-----\n";
    EXPECT_FALSE(TrustedAuthorities::addCertificatesPEM(broken));
    EXPECT_EQ(TrustedAuthorities::count(), 0u);
    EXPECT_EQ(send(*requestTo(server.httpsURL("/"))).code(), NSURLErrorServerCertificateHasUnknownRoot);
}

TEST_F(TLSTest, ARejectedChallengeCountsAsAFailureForItsProtectionSpace) {
    trustServer();
    server.route("GET", "/", Answer::ok("x"));
    auto first = connectTo(server.httpsURL("/"), true);
    ASSERT_NE(first->error, nullptr);
    EXPECT_EQ(first->error->code(), NSURLErrorUserCancelledAuthentication);
    EXPECT_EQ(first->failureCounts, std::vector<int64_t>{0});
    EXPECT_EQ(first->responses, 0);

    auto second = connectTo(server.httpsURL("/"), true);
    EXPECT_EQ(second->failureCounts, std::vector<int64_t>{1});
    // Another protection space (host) starts from zero.
    auto other = connectTo(server.httpsURL("/", "localhost"));
    EXPECT_EQ(other->failureCounts, std::vector<int64_t>{0});
    // Accepting resets the count.
    auto third = connectTo(server.httpsURL("/"));
    EXPECT_EQ(third->failureCounts, std::vector<int64_t>{2});
    EXPECT_TRUE(third->finished);
    EXPECT_EQ(connectTo(server.httpsURL("/"))->failureCounts, std::vector<int64_t>{0});
}

TEST_F(TLSTest, RedirectsBetweenHttpAndHttps) {
    trustServer();
    server.route("GET", "/up", Answer::redirect(server.httpsURL("/secure")));
    server.route("GET", "/secure", Answer::ok("secure"));
    Result r = get("/up");
    EXPECT_EQ(r.error, nullptr);
    EXPECT_EQ(r.body(), "secure");
    EXPECT_EQ(r.response->URL()->absoluteString(), server.httpsURL("/secure"));
}

// A process stopped and continued sees a blocking call on a socket with a
// time-out fail with EINTR; a signal whose handler does not restart calls
// does that to any blocking call. Signals sent to every thread all along
// stand in for both: no request fails for them, over TLS or not.
TEST_F(TLSTest, RequestsOutlastInterruptedCalls) {
    trustServer();
    server.route("POST", "/echo", [](const RecordedRequest& r) { return Answer::ok(r.body); });
    struct sigaction interrupting {}, previous {};
    interrupting.sa_handler = [](int) {};
    sigemptyset(&interrupting.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &interrupting, &previous), 0);
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        while (!done.load()) {
            std::error_code ec;
            for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec))
                ::syscall(SYS_tgkill, ::getpid(), std::atoi(task.path().filename().c_str()), SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    const std::string body(256 * 1024, 'b');  // many TLS records each way
    for (int i = 0; i < 10; ++i) {
        for (const std::string& url : {server.httpsURL("/echo"), server.url("/echo")}) {
            Result r = send(*requestTo(url, "POST", body));
            EXPECT_EQ(r.code(), 0) << url;
            EXPECT_EQ(r.data ? r.data->length() : 0, body.size()) << url;
        }
    }
    done = true;
    interrupter.join();
    // A signal still pending (on a thread that held it blocked, or was
    // stopped) would end the process once the default action is back:
    // ignoring the signal first discards it.
    struct sigaction ignoring {};
    ignoring.sa_handler = SIG_IGN;
    sigemptyset(&ignoring.sa_mask);
    sigaction(SIGUSR1, &ignoring, nullptr);
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(server.requestCount(), 20u);
}

}  // namespace
