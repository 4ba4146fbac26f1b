// Stores a picture for MRAID's storePicture: asks the user in an alert
// ("Permissions", "Allow ad image to be saved"; Cancel, OK), downloads the
// picture after OK through one request object reused for every picture (a
// later picture replaces the URL of a prompt still open), and writes it to
// the photo album when it decodes as an image. Nothing is reported to the
// page: refusals and failures are logged. Main thread.
#pragma once

#include <optional>
#include <string>

#include "platform/ui/UIAlertController.h"
#include "tamarind/TMAWebRequest.h"

class TMATMraidPictureManager : public NSObject, public TMAWebRequestDelegate {
public:
    // A picture answer larger than this fails the download.
    static constexpr size_t kMaximumPictureBytes = 8 * 1024 * 1024;

    // Makes the request, with this manager as its delegate.
    Ref<TMATMraidPictureManager> init();

    // Sets the request's URL, keeps the presenter (weakly) and asks the user.
    void storePicture(const std::string& url, const Ref<UIViewController>& presenter);
    // Presents the alert from the presenter on a later main-queue turn;
    // logged when there is none or it shows something already.
    void promptPermissions();
    Ref<UIAlertController> alertController();

    // TMAWebRequestDelegate: the picture is saved when it decodes; a failed
    // download is logged with its status.
    void responseReceived(Ref<TMAWebResponse> response) override;
    void errorReceived(Ref<NSError> error, int64_t statusCode) override;
    void saveImage(const Ref<TMAWebResponse>& response);
    void pictureSaved(const Ref<NSError>& error);

    Ref<UIViewController> presentingViewController() const { return presentingViewController_.lock(); }
    Ref<TMAWebRequest> webRequest() const { return webRequest_; }

private:
    Weak<UIViewController> presentingViewController_;
    Ref<TMAWebRequest> webRequest_;
};
