#include "tamarind/TMAViewabilityFetcher.h"

#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/Log.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMLog.h"

std::optional<std::string> TMAViewabilityFetcher::storedScript() {
    return NSUserDefaults::standardUserDefaults()->stringForKey(TMAWire::kViewabilityScriptKey);
}

std::optional<std::string> TMAViewabilityFetcher::storedVersion() {
    return NSUserDefaults::standardUserDefaults()->stringForKey(TMAWire::kViewabilityVersionKey);
}

void TMAViewabilityFetcher::loadViewabilityWithConfig(const Ref<TMAdConfiguration>& configuration) {
    if (!configuration) return;
    auto url = configuration->viewabilityScriptURL();
    if (!url) return;
    std::string version = configuration->viewabilityScriptVersion().value_or("");
    if (storedScript() && storedVersion().value_or("") == version) return;

    auto request = TMAWebRequestFactory::initWebRequest();
    request->setUrlString(url);
    request->setMaximumResponseBytes(TMAWire::kMaximumScriptBytes);
    auto keepAlive = self<TMAViewabilityFetcher>();
    request->makeCallWithCompletionBlock(
        [keepAlive, version, source = *url](Ref<TMAWebResponse> response, Ref<NSError> error, int64_t status) {
            std::optional<std::string> script;
            if (!error && status == 200 && response) script = response->getResponseReader()->readAsString();
            if (!script || script->empty()) {
                TMLog::logError(
                    "Failed to download the viewability script from %@ (%@, status %lld); the stored "
                    "script stays.",
                    platform::urlForLog(source), error ? error->localizedDescription() : std::string("no usable text"),
                    status);
                return;
            }
            auto defaults = NSUserDefaults::standardUserDefaults();
            defaults->setObject(Value(*script), TMAWire::kViewabilityScriptKey);
            defaults->setObject(Value(version), TMAWire::kViewabilityVersionKey);
            TMLog::logInfo("Viewability script version \"%@\" stored.", platform::shortenedForLog(version));
        });
}
