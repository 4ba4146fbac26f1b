#include "tamarind/TMATMraidPictureManager.h"

#include "platform/runtime/DispatchQueue.h"
#include "platform/store/PhotoAlbum.h"
#include "tamarind/TMAWebRequestFactory.h"
#include "tamarind/TMLog.h"

Ref<TMATMraidPictureManager> TMATMraidPictureManager::init() {
    auto self = this->self<TMATMraidPictureManager>();
    webRequest_ = TMAWebRequestFactory::initWebRequest();
    webRequest_->setDelegate(self);
    webRequest_->setMaximumResponseBytes(kMaximumPictureBytes);
    return self;
}

void TMATMraidPictureManager::storePicture(const std::string& url, const Ref<UIViewController>& presenter) {
    webRequest_->setUrlString(url);
    presentingViewController_ = presenter;
    promptPermissions();
}

void TMATMraidPictureManager::promptPermissions() {
    Weak<TMATMraidPictureManager> weak = self<TMATMraidPictureManager>();
    dispatch_async(dispatch_get_main_queue(), [weak] {
        auto manager = weak.lock();
        if (!manager) return;
        auto presenter = manager->presentingViewController();
        if (!presenter) {
            TMLog::logError("MRAID: no view controller to ask for permission from; the picture is not stored.");
            return;
        }
        if (auto shown = presenter->presentedViewController()) {
            // The prompt already open downloads the latest picture on OK.
            TMLog::logInfo("MRAID: %@ is already presented; no second permission prompt.", shown->className());
            return;
        }
        presenter->presentViewController(manager->alertController(), true, nullptr);
    });
}

Ref<UIAlertController> TMATMraidPictureManager::alertController() {
    auto alert = UIAlertController::alertControllerWithTitle("Permissions", "Allow ad image to be saved",
                                                             UIAlertControllerStyleAlert);
    Weak<TMATMraidPictureManager> weak = self<TMATMraidPictureManager>();
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyleCancel, [](Ref<UIAlertAction>) {
        TMLog::logInfo("User cancelled storing image");
    }));
    alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyleDefault, [weak](Ref<UIAlertAction>) {
        if (auto manager = weak.lock()) manager->webRequest_->makeCall();
    }));
    return alert;
}

void TMATMraidPictureManager::responseReceived(Ref<TMAWebResponse> response) { saveImage(response); }

void TMATMraidPictureManager::errorReceived(Ref<NSError> error, int64_t statusCode) {
    TMLog::logError("Failed to retrieve image: %@:%@", statusCode,
                    error ? error->localizedDescription() : std::string("HTTP status ") + std::to_string(statusCode));
}

void TMATMraidPictureManager::saveImage(const Ref<TMAWebResponse>& response) {
    auto image = response ? response->getResponseReader()->readAsImage() : nullptr;
    if (!image) {
        // Only pictures reach the album: a page or other bytes are refused.
        TMLog::logError("MRAID: Failed to save picture.");
        return;
    }
    Weak<TMATMraidPictureManager> weak = self<TMATMraidPictureManager>();
    UIImageWriteToSavedPhotosAlbum(image, [weak](Ref<UIImage>, Ref<NSError> error) {
        if (auto manager = weak.lock())
            manager->pictureSaved(error);
        else if (error)
            TMLog::logError("MRAID: Failed to save picture.");
    });
}

void TMATMraidPictureManager::pictureSaved(const Ref<NSError>& error) {
    if (error)
        TMLog::logError("MRAID: Failed to save picture.");
    else
        TMLog::logDebug("MRAID: Picture stored.");
}
