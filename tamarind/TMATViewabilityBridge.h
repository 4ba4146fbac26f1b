// The viewability script bridge of template creatives, the global
// "tamarindmobileadsviewablebridge": at registration it names the event
// (`Event.Viewability`) and runs the stored viewability script with the
// instrumentation pixel and the slot id filled in; it counts the page's
// "Viewability" listeners and sends each measurement the container hands it
// to them. Main thread.
#pragma once

#include <atomic>
#include <string>

#include "platform/ui/CGGeometry.h"
#include "tamarind/TMATBaseBridge.h"

// The methods the page sees, in declaration order.
class TMATViewableBridgeExport : public JSExport {
public:
    virtual bool addEvent(const std::string& event, const JSValue& listener) = 0;
    virtual bool removeEvent(const std::string& event, const JSValue& listener) = 0;
    // "1.1".
    virtual std::string getVersion() = 0;
    // The client's version, "tamarindAdSDK-ios-2.2.15".
    virtual std::string getSDKVersion() = 0;

    std::vector<JSExportMethod> exportedMethods() const override;
};

class TMATViewabilityBridge : public TMATBaseBridge, public TMATViewableBridgeExport {
public:
    static Ref<TMATViewabilityBridge> defaultBridge(const Ref<TMATBaseAdController>& adController);

    std::string bridgePrefix() const override;
    std::string bridgeAPIVersion() const override;
    std::vector<std::string> supportedJSEvents() const override;

    // The base registration, then initiateViewability.
    void registerBridge(const Ref<TMATBaseAdContainer>& container) override;
    // Sets the page's Event.Viewability to "Viewability".
    void insertEventsInContext() override;
    // Runs viewabilityJS in the page; an absent or rejected script, and one
    // that throws or runs too long, are logged.
    void initiateViewability();
    // The stored script with its two placeholders filled; "" (logged) when it
    // does not hold exactly two.
    std::string viewabilityJS();
    static bool verifyProperlyFormattedJS(const std::string& script);
    // "function(){ return <pixel>; }": the controller's instrumentation pixel
    // URL as a string literal, or null.
    std::string instrumentationUrlCallback();
    std::optional<std::string> viewabilityVersion();

    // The base's, then the listener count follows: a listed "Viewability"
    // listener marks a new request and lets the container pick its timer.
    bool addEvent(const std::string& event, const JSValue& listener) override;
    bool removeEvent(const std::string& event, const JSValue& listener) override;
    std::string getVersion() override { return bridgeAPIVersion(); }
    std::string getSDKVersion() override;

    // Only while active: fires "Viewability" with the record and clears newRequest.
    void sendViewabilityPercentage(float percentage, bool viewable, CGRect adFrame);
    // The record (keys in the page's order); a null frame is -1, -1, 0, 0.
    Value constructViewabilityInfo(float percentage, bool viewable, CGRect adFrame);

    // A page listener has subscribed since the last record was sent.
    bool newRequest() const { return newRequest_.load(); }
    void setNewRequest(bool value) { newRequest_.store(value); }
    unsigned subscribedListeners() const { return subscribedListeners_.load(); }
    bool isActive() const { return subscribedListeners() != 0; }

private:
    void addListener();
    void removeListener();

    std::atomic<bool> newRequest_{false};
    std::atomic<unsigned> subscribedListeners_{0};
};
