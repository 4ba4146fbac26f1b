#include "Trillium/TRAAdCache.h"

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAVisualCache.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIWindow.h"

namespace {

// A video ad whose file has gone (or never came) cannot be shown.
bool TRAAdCacheVideoIsMissing(const Ref<TRAAd>& ad) {
    auto prefs = ad->videoPref();
    auto path = prefs ? prefs->videoPath() : std::nullopt;
    return prefs && (!path || !NSFileManager::defaultManager()->fileExistsAtPath(*path));
}

// What an entry is kept under while the stored cache is laid over.
std::string TRAAdCacheEntryName(const TRACacheKey& key) {
    return std::to_string(key.adType()) + "/" + std::to_string(key.eventType());
}

}  // namespace

Ref<TRAAdCache> TRAAdCache::sharedInstance() {
    static Ref<TRAAdCache> shared = [] {
        auto cache = NSObject::alloc<TRAAdCache>();
        cache->loadDBFromLocalData();
        return cache;
    }();
    return shared;
}

Ref<TRACacheAdLoader> TRAAdCache::loaderForKey(const TRACacheKey& key, bool create) {
    readIfUnread();
    return loaderFor(key, create);
}

Ref<TRACacheAdLoader> TRAAdCache::loaderFor(const TRACacheKey& key, bool create) {
    for (const auto& [k, loader] : db_)
        if (k->isEqualToKey(key)) return loader;
    if (!create) return nullptr;
    auto copy = NSObject::alloc<TRACacheKey>()->initWithAdType(key.adType(), key.eventType());
    auto loader = NSObject::alloc<TRACacheAdLoader>()->initWithKey(copy);
    db_.emplace_back(copy, loader);
    return loader;
}

bool TRAAdCache::containsAd(const TRACacheKey& key, const Ref<TRAAd>& ad) const {
    for (const auto& [k, loader] : db_)
        if (k->isEqualToKey(key)) return ad && loader->internalAd() == ad;
    return false;
}

void TRAAdCache::removeAd(const TRACacheKey& key, const Ref<TRAAd>& ad) {
    for (const auto& [k, loader] : db_) {
        if (k->isEqualToKey(key) && ad && loader->internalAd() == ad) {
            loader->setInternalAd(nullptr);
            unreadChanges_.removed(TRAAdCacheEntryName(key));
        }
    }
    saveDBToLocalData();
}

void TRAAdCache::restoreAd(const TRACacheKey& key, const Ref<TRAAd>& ad) {
    if (!ad || TRAAdCacheVideoIsMissing(ad)) return;
    auto loader = loaderForKey(key, true);
    if (loader->internalAd()) return;
    loader->setInternalAd(ad);
    saveDBToLocalData();
}

void TRAAdCache::saveDBToLocalData() {
    // Saved before the stored cache is read, this one would replace it.
    readIfUnread();
    if (unreadChanges_.isUnread()) return;
    Value::Array entries;
    for (const auto& [key, loader] : db_)
        if (loader->internalAd())
            entries.push_back(Value::dictionary({{"key", Value(key)}, {"ad", Value(loader->internalAd())}}));
    NSUserDefaults::standardUserDefaults()->setObject(
        Value(NSKeyedArchiver::archivedDataWithRootObject(Value(std::move(entries)))), kCacheDbKey);
}

void TRAAdCache::loadDBFromLocalData() {
    const bool read = NSUserDefaults::standardUserDefaults()->isStoreRead();
    unreadChanges_.loaded(read);
    clearedUnread_ = false;
    if (!read) TRALog::info("The stored ad cache cannot be read now; it is read again at each use and not saved over.");
    takeEntries(storedEntries());
}

ValueDictionary TRAAdCache::storedEntries() const {
    ValueDictionary kept;
    Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(kCacheDbKey);
    if (stored.isNull()) return kept;
    if (!stored.isData()) {
        TRALog::error("Stored ad cache is not an archive; it is ignored.");
        return kept;
    }
    Value entries = NSKeyedUnarchiver::unarchiveObjectWithData(*stored.data());
    if (!entries.isArray()) {
        TRALog::error("Stored ad cache cannot be read; it is ignored.");
        return kept;
    }
    double now = NSDate::date().timeIntervalSince1970();
    for (const Value& entry : *entries.array()) {
        auto key = entry["key"].object<TRACacheKey>();
        auto ad = entry["ad"].object<TRAAd>();
        if (!key || !ad) continue;
        // Cleared before the stored cache could be read: only splash entries stay.
        if (clearedUnread_ && key->eventType() != 2) continue;
        // An old ad (or one of unknown age, or from the future of a clock set
        // back) would show a campaign the server no longer serves.
        auto loaded = ad->loadDate();
        if (!loaded || now - *loaded >= kCachedAdLifetime || now < *loaded) {
            TRALog::infof("A cached ad loaded %@ is dropped.", std::string(loaded ? "too long ago" : "at an unknown time"));
            continue;
        }
        if (TRAAdCacheVideoIsMissing(ad)) continue;
        kept.set(TRAAdCacheEntryName(*key), entry);
    }
    return kept;
}

void TRAAdCache::takeEntries(const ValueDictionary& entries) {
    for (const auto& [name, entry] : entries)
        loaderFor(*entry["key"].object<TRACacheKey>(), true)->setInternalAd(entry["ad"].object<TRAAd>());
}

void TRAAdCache::readIfUnread() {
    if (!unreadChanges_.isUnread()) return;
    ValueDictionary held;
    for (const auto& [key, loader] : db_)
        if (loader->internalAd())
            held.set(TRAAdCacheEntryName(*key), Value::dictionary({{"key", Value(key)}, {"ad", Value(loader->internalAd())}}));
    if (!unreadChanges_.readIfUnread(held, [this] { return storedEntries(); })) return;
    clearedUnread_ = false;
    takeEntries(held);
    TRALog::info("The stored ad cache can be read again; the ads cached meanwhile are laid over it.");
    saveDBToLocalData();
}

void TRAAdCache::clearCacheDB() {
    readIfUnread();
    if (unreadChanges_.isUnread()) clearedUnread_ = true;
    CacheDb kept, dropped;
    for (auto& entry : db_) (entry.first->eventType() == 2 ? kept : dropped).push_back(entry);
    db_ = std::move(kept);
    auto error = TRAAdSDKUtils::createErrorWithDescription("The ad cache was cleared");
    for (const auto& [key, loader] : dropped)
        if (loader->isLoading()) loader->cancelWithError(error);
    if (visualCache_) visualCache_->reloadData();
}

void TRAAdCache::showVisualCacheDB() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    auto top = TRAAdSDKUtils::topViewControllerWithRootViewController(window ? window->rootViewController() : nullptr);
    if (!top) {
        TRALog::error("No view controller to show the ad cache on.");
        return;
    }
    auto view = top->view();
    if (!visualCache_) {
        visualCache_ = NSObject::alloc<TRAVisualCache>();
        visualCache_->initWithFrame(view->bounds());
    }
    visualCache_->reloadData();
    visualCache_->removeFromSuperview();
    view->addSubview(visualCache_);
}

void TRAAdCache::hideVisualCacheDB() {
    if (visualCache_) visualCache_->removeFromSuperview();
}
