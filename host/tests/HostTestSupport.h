// The host tests' fixture: a scratch folder with the output folder inside,
// options that find the bundle in the source tree, and readers for what a
// run wrote (the recorded traffic's index, the timeline, the client log, files).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "platform/runtime/HangGuard.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "simulator/TrilliumService.h"

struct HostTestExchange {
    Value entry;
    simulator::QueryFields fields;

    std::string service() const { return entry["service"].stringValue(); }
    std::string url() const { return entry["url"].stringValue(); }
    std::string serviceUrl() const { return entry["serviceUrl"].stringValue(); }
    std::string path() const {
        std::string u = url();
        size_t start = u.find('/', u.find("://") + 3);
        size_t q = u.find('?');
        return u.substr(start, q == std::string::npos ? std::string::npos : q - start);
    }
    int status() const { return static_cast<int>(entry["status"].integerValue()); }
    std::optional<std::string> field(const std::string& name) const {
        for (const auto& [key, value] : fields)
            if (key == name) return value;
        return std::nullopt;
    }
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "host-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        options.outDir = root + "/out";
        options.scenario = "startup";
        options.echoTimeline = false;
        // The host's real-time waits only guard against a hang here.
        options.settleSeconds = platform::testing::hangGuard(options.settleSeconds);
        options.serviceSeconds = platform::testing::hangGuard(options.serviceSeconds);
        options.waitScale = platform::testing::hangGuardScale();
        const char* source = std::getenv("PROJECT_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        options.bundlePath = std::string(source) + "/resources";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Reads <outDir>/traffic/index.json and <outDir>/timeline.txt.
    void readOutput(const std::string& outDir) {
        exchanges.clear();
        timeline.clear();
        auto index = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(readFile(outDir + "/traffic/index.json")));
        ASSERT_TRUE(index && index->isArray()) << outDir;
        for (const Value& entry : *index->array()) {
            std::string url = entry["url"].stringValue();
            size_t q = url.find('?');
            exchanges.push_back(
                {entry, simulator::TrilliumService::parseQuery(q == std::string::npos ? "" : url.substr(q + 1))});
        }
        std::ifstream timelineFile(outDir + "/timeline.txt");
        for (std::string line; std::getline(timelineFile, line);) timeline.push_back(line);
        clientLog.clear();
        std::ifstream logFile(outDir + "/client-log.txt");
        for (std::string line; std::getline(logFile, line);) clientLog.push_back(line);
    }
    bool loggedByAClient(const std::string& text) const {
        return std::any_of(clientLog.begin(), clientLog.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    // The exchanges of a service, to a path ("" for any).
    std::vector<HostTestExchange> of(const std::string& service, const std::string& path = "") const {
        std::vector<HostTestExchange> list;
        for (const auto& e : exchanges)
            if (e.service() == service && (path.empty() || e.path() == path)) list.push_back(e);
        return list;
    }
    // The index of the first timeline line containing `text` at or after `from`; -1 when none.
    long lineWith(const std::string& text, long from = 0) const {
        for (size_t i = static_cast<size_t>(std::max(from, 0L)); i < timeline.size(); ++i)
            if (timeline[i].find(text) != std::string::npos) return static_cast<long>(i);
        return -1;
    }

    // Each step appears on the timeline, in this order.
    void expectTimelineInOrder(std::initializer_list<const char*> steps) const {
        long at = 0;
        for (const char* step : steps) {
            long found = lineWith(step, at);
            EXPECT_GE(found, at) << "missing or out of order: " << step;
            if (found >= 0) at = found;
        }
    }

    std::string root;
    HostOptions options;
    std::vector<HostTestExchange> exchanges;
    std::vector<std::string> timeline;
    std::vector<std::string> clientLog;
};
