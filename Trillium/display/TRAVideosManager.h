// The store of the video ads' files: a table from file name to the
// TRAVideoDownloader that fetches (or fetched) the file, archived whole in
// the user defaults under "TRAVideosDb". One download per file: ads asking
// for a video already on its way, by any URL of its name, wait on the same
// downloader. A refused download (no playable video, over the cap) spares the
// server for a while: asks of that URL, whatever its query or fragment (a
// server signing each answer anew) and however it is spelled (case, escapes,
// dot segments, the default port), fail without a request until the refusal
// lapses, 60 s after the refused answer, doubling at each new refusal of the
// URL, at most an hour; refusals are kept in memory only, within a byte
// budget, on the clock's uptime. Files live in <Caches>/<bundle identifier>/
// as "<name>.mp4" ("<name>.mp4.tmp" while they download). Before each
// download it deletes the videos above the remote maximum, sparing those that
// cached ads carry and the one now playing.
//
// The table read back at start-up is made consistent with the disk: no entry
// is downloading, an entry is loaded exactly when its final file is there,
// and partial files (left by a killed process) are deleted, so that a video
// is fetched again whole. A table that cannot be read at start-up is not
// saved over: it is read again at each use, and once it reads the
// entries known meanwhile are laid over it (removed ones go, the stored
// others stay). Main thread.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "Trillium/TRAVideoStore.h"
#include "Trillium/display/TRAVideoDownloader.h"
#include "platform/foundation/UnreadTableChanges.h"
#include "platform/foundation/Value.h"

class TRAVideosManager : public NSObject, public TRAVideoStore {
public:
    static constexpr const char* kVideosDbKey = "TRAVideosDb";

    // Created once, thread-safely; reads the table.
    static Ref<TRAVideosManager> sharedInstance();
    Ref<TRAVideosManager> init();

    // A URL's first refusal holds kFirstRefusalSeconds, each later one twice
    // the last, at most kLongestRefusalSeconds. Refusals take at most
    // kRefusalBudgetBytes, each kRefusalEntryBytes whatever its URL's length
    // (the URL is kept as a digest, the reason cut short): room for
    // kMaximumRefusals URLs, the one whose refusal ends first giving way to a
    // new one.
    static constexpr double kFirstRefusalSeconds = 60;
    static constexpr double kLongestRefusalSeconds = 3600;
    static constexpr size_t kRefusalBudgetBytes = 256 * 1024;
    static constexpr size_t kRefusalEntryBytes = 256;
    static constexpr size_t kMaximumRefusals = kRefusalBudgetBytes / kRefusalEntryBytes;

    // Fails the ad at once when the device lacks space for videos, the URL
    // is not http or https or names no usable file; reports a loaded file at
    // once, inside the call, and joins a running download of the file,
    // whatever URL of its name asks (a refused one too); fails the ad at
    // once, with a log line, while its URL is refused; otherwise the ad waits
    // on a download of the file started from its URL. URLs of one file name
    // share its entry, so only an entry with neither file nor download is
    // fetched from the asking ad's URL.
    void downloadVideoWithUrl(const std::string& videoUrl, const Ref<TRAVideosManagerDelegate>& delegate) override;
    // A download of the URL was refused (no playable video, over the cap):
    // asks of it, whatever their query or fragment and however spelled, fail
    // at once without a request until the refusal lapses. Other paths of the
    // file name are still fetched.
    void rememberRefusedVideo(const std::string& videoUrl, const std::string& reason);
    // The URL brought a playable video: a later refusal of it starts afresh.
    void forgetRefusedVideo(const std::string& videoUrl);
    // The final path of the URL's file; nullopt when the URL names none.
    std::optional<std::string> destPathFromVideoUrl(const std::string& videoUrl) const;
    // Forgets the video (a running download of it is abandoned) and deletes
    // its final and partial files.
    void removeVideo(const std::string& fileName);
    // Deletes one file; failures are ignored.
    static void removeFile(const std::string& path);
    // Deletes videos in table order while the table holds more than the
    // remote maximum, sparing cached ads' videos and the one now playing.
    void cleanVideos();
    // Reloads the cache overlay's video rows and writes the table.
    void saveVideosDBToLocalData();
    static bool isFileExistWithPath(const std::string& path);
    // A copy of the table: file name → downloader, in table order.
    Value getVideosDBCopy() override;

    // The table's downloader of the file name; null when there is none.
    Ref<TRAVideoDownloader> downloaderForFileName(const std::string& fileName) const;
    const std::optional<std::string>& nowPlayingVideoFileName() const { return nowPlayingVideoFileName_; }
    void setNowPlayingVideoFileName(const std::optional<std::string>& fileName) override {
        nowPlayingVideoFileName_ = fileName;
    }

private:
    // What a refusal is kept under: the digest of refusalUrl's text.
    using RefusalKey = std::array<uint8_t, 20>;
    // A refused URL: why (cut short), how long its last refusal holds, and
    // the uptime at which that refusal lapses.
    struct Refusal {
        std::string reason;
        double seconds = 0;
        double until = 0;
    };
    // The reason is cut to this many bytes (and the note of its length).
    static constexpr size_t kRefusalReasonBytes = 80;
    // An entry's whole cost stays within its charge: the map's node (four
    // links and the value), the reason's text with the note of its length and
    // its terminator, and the allocator's header of each of the two blocks.
    static_assert(4 * sizeof(void*) + sizeof(std::pair<const RefusalKey, Refusal>) + kRefusalReasonBytes + 32 + 1 +
                          2 * 16 <=
                      kRefusalEntryBytes,
                  "a refusal costs more than kRefusalEntryBytes");

    // Reads "TRAVideosDb" and reconciles it with the disk.
    void loadTable();
    // The stored table, each entry made consistent with the disk (`changed`
    // when one was not, or one could not be read back).
    static ValueDictionary storedTable(bool& changed);
    // While the stored table could not be read: once it reads, lays the
    // table held over it and saves the result.
    void readTableIfUnread();
    // Nothing while the stored table could not be read.
    void writeTable();
    // The URL that a refusal covers, normalized so that every spelling of it
    // reads the same: without its query and fragment; scheme and host in
    // lower case; escapes of letters, digits and "-._~" decoded, others in
    // upper case; dot segments resolved; the default port (80, 443) and an
    // empty one dropped; an empty path "/".
    static std::string refusalUrl(const std::string& videoUrl);
    static RefusalKey refusalKey(const std::string& refusalUrl);

    Value videosDb_ = Value::dictionary({});
    platform::UnreadTableChanges unreadChanges_;
    std::optional<std::string> nowPlayingVideoFileName_;
    // In memory only, as a server may mend them.
    std::map<RefusalKey, Refusal> refusals_;
};
