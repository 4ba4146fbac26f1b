// The shared cache of loaded full-screen ads: one loader per key (ad type,
// event type), each holding a loaded ad until it is shown. The loaded ads are
// archived in the user defaults under "TRACacheDB" with their load dates, so
// they survive a restart for kCachedAdLifetime. A cache that cannot be read at start-up is not saved over: it is
// read again at each use, and once it reads the ads cached meanwhile are laid over it (an ad taken
// meanwhile goes, a clear drops the stored entries it would have, the stored others stay). Also holds the shared
// auto-rotate flag of the client's screens and the debug overlay. Main thread.
#pragma once

#include <utility>
#include <vector>

#include "Trillium/TRACacheAdLoader.h"
#include "Trillium/TRACacheKey.h"
#include "platform/foundation/UnreadTableChanges.h"
#include "platform/runtime/NSObject.h"

class TRAVisualCache;

class TRAAdCache : public NSObject {
public:
    static constexpr const char* kCacheDbKey = "TRACacheDB";
    // Seconds a loaded ad stays usable across restarts.
    static constexpr double kCachedAdLifetime = 6 * 3600;
    using CacheDb = std::vector<std::pair<Ref<TRACacheKey>, Ref<TRACacheAdLoader>>>;

    // Created once; reads "TRACacheDB".
    static Ref<TRAAdCache> sharedInstance();

    // A copy of the table, in the order the keys first came.
    CacheDb getCacheDb() const { return db_; }
    // The loader of the key; a new one is made when `create` is set.
    Ref<TRACacheAdLoader> loaderForKey(const TRACacheKey& key, bool create);
    // Whether the key's loader holds exactly this ad, not yet shown.
    bool containsAd(const TRACacheKey& key, const Ref<TRAAd>& ad) const;
    // Takes the ad out of the cache (it is being shown) and saves.
    void removeAd(const TRACacheKey& key, const Ref<TRAAd>& ad);
    // Puts back an ad whose display was refused, unless the key holds a
    // newer one or it is a video ad whose file has gone, and saves.
    void restoreAd(const TRACacheKey& key, const Ref<TRAAd>& ad);

    // Archives every loaded ad with its key under "TRACacheDB".
    void saveDBToLocalData();
    // Reads "TRACacheDB" into the table (done once by sharedInstance): an
    // unreadable archive is ignored; an ad loaded kCachedAdLifetime or more
    // ago (or at an unknown or future time) and a video ad whose file is gone
    // are dropped.
    void loadDBFromLocalData();
    // Drops every entry whose key's event type is not 2 (splash entries stay);
    // ads waiting on a dropped load hear that it failed.
    void clearCacheDB();
    // Adds the debug overlay listing the cache and the stored videos to the
    // top view controller's view; hideVisualCacheDB removes it.
    void showVisualCacheDB();
    void hideVisualCacheDB();
    const Ref<TRAVisualCache>& visualCache() const { return visualCache_; }

    // Off while a client screen (full-screen ad, store sheet, in-app browser)
    // is up; YES otherwise.
    bool allowAutoRotate() const { return allowAutoRotate_; }
    void setAllowAutoRotate(bool allow) { allowAutoRotate_ = allow; }

private:
    Ref<TRACacheAdLoader> loaderFor(const TRACacheKey& key, bool create);
    // The stored ads that may still be shown, each entry ({"key", "ad"})
    // under its key's "<ad type>/<event type>".
    ValueDictionary storedEntries() const;
    // Puts each entry's ad into its key's loader.
    void takeEntries(const ValueDictionary& entries);
    // While the stored cache could not be read: once it reads, lays the ads
    // held over it and saves the result.
    void readIfUnread();

    CacheDb db_;
    platform::UnreadTableChanges unreadChanges_;
    bool clearedUnread_ = false;  // cleared while the stored cache could not be read
    bool allowAutoRotate_ = true;
    Ref<TRAVisualCache> visualCache_;
};
