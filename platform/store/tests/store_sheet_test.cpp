// The store product sheet: scripted load results, the program's failure, held
// loads, completions that arrive after their caller went away, the user's close.
#include "platform/testing/PlatformTest.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/store/StoreClasses.h"
#include "platform/ui/UIApplication.h"

namespace {

using platform::testing::StoreSheet;
using platform::testing::PlatformTest;

struct Outcome {
    int calls = 0;
    bool result = false;
    Ref<NSError> error;
};

SKStoreProductViewController::LoadCompletion record(std::shared_ptr<Outcome> outcome) {
    return [outcome](bool result, Ref<NSError> error) {
        ++outcome->calls;
        outcome->result = result;
        outcome->error = std::move(error);
    };
}

Value product(const char* id = "123456789") { return Value::dictionary({{SKStoreProductParameterItemIdentifier, id}}); }

class StoreSheetTest : public PlatformTest {
protected:
    Ref<SKStoreProductViewController> sheet = SKStoreProductViewController::alloc()->init();
};

TEST_F(StoreSheetTest, FailsAtTheNextPassWithoutAStore) {
    auto outcome = std::make_shared<Outcome>();
    sheet->loadProductWithParameters(product(), record(outcome));
    EXPECT_EQ(outcome->calls, 0);  // never inside the call
    driver().drain();
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(outcome->result);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain(), "SKErrorDomain");
    EXPECT_EQ(outcome->error->code(), 0);
    driver().advance(60);
    EXPECT_EQ(outcome->calls, 1);
    ASSERT_EQ(StoreSheet::loadedParameters().size(), 1u);
    EXPECT_EQ(StoreSheet::loadedParameters()[0][SKStoreProductParameterItemIdentifier].stringValue(), "123456789");
}

TEST_F(StoreSheetTest, LoadsWhenTheProfileSaysSo) {
    profile().storeSheetLoads = true;
    auto outcome = std::make_shared<Outcome>();
    sheet->loadProductWithParameters(Value::dictionary({{SKStoreProductParameterItemIdentifier, 42}}),
                                     record(outcome));
    driver().drain();
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->result);
    EXPECT_FALSE(outcome->error);

    // The key's older name is the same key.
    auto older = std::make_shared<Outcome>();
    sheet->loadProductWithParameters(Value::dictionary({{SKStoreProductParameterITunesItemIdentifier, "77"}}),
                                     record(older));
    driver().drain();
    EXPECT_TRUE(older->result);
    EXPECT_EQ(StoreSheet::loadedParameters().back()[SKStoreProductParameterItemIdentifier].stringValue(), "77");
}

TEST_F(StoreSheetTest, ScriptedResultAfterADelayIsUsedOnce) {
    StoreSheet::setNextResult(StoreSheet::Loads, 7.5);
    auto first = std::make_shared<Outcome>();
    auto second = std::make_shared<Outcome>();
    sheet->loadProductWithParameters(product(), record(first));
    sheet->loadProductWithParameters(product(), record(second));
    driver().advance(7);
    EXPECT_EQ(first->calls, 0);
    EXPECT_EQ(second->calls, 1);  // unscripted: the program's failure at the next pass
    EXPECT_FALSE(second->result);
    driver().advance(1);
    EXPECT_EQ(first->calls, 1);
    EXPECT_TRUE(first->result);
}

TEST_F(StoreSheetTest, HeldLoadsCompleteInOrder) {
    StoreSheet::hold();
    std::vector<int> order;
    for (int i = 0; i < 3; ++i)
        sheet->loadProductWithParameters(product(), [&order, i](bool result, Ref<NSError> error) {
            EXPECT_FALSE(result);
            EXPECT_TRUE(error);
            order.push_back(i);
        });
    EXPECT_EQ(StoreSheet::pendingCount(), 3u);
    driver().advance(30);
    EXPECT_TRUE(order.empty());
    StoreSheet::completePending(false);
    EXPECT_TRUE(order.empty());
    driver().drain();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(StoreSheet::pendingCount(), 0u);

    auto after = std::make_shared<Outcome>();  // no longer held
    sheet->loadProductWithParameters(product(), record(after));
    driver().drain();
    EXPECT_EQ(after->calls, 1);
}

// A caller that owns its sheet and is its delegate, like the click follower.
class Caller : public NSObject, public SKStoreProductViewControllerDelegate {
public:
    Ref<SKStoreProductViewController> sheet;
    int finished = 0;
    void productViewControllerDidFinish(Ref<SKStoreProductViewController>) override { ++finished; }
};

TEST_F(StoreSheetTest, CompletionArrivesAfterItsCallerWentAway) {
    StoreSheet::hold();
    auto caller = NSObject::alloc<Caller>();
    caller->sheet = SKStoreProductViewController::alloc()->init();
    caller->sheet->setDelegate(caller);
    Weak<Caller> weakCaller = caller;
    Weak<SKStoreProductViewController> weakSheet = caller->sheet;
    int calls = 0;
    bool callerWasGone = false;
    caller->sheet->loadProductWithParameters(product(), [weakCaller, &calls, &callerWasGone](bool, Ref<NSError>) {
        ++calls;
        callerWasGone = weakCaller.expired();
    });
    // A completion that holds what it captures keeps it until it runs.
    auto kept = std::make_shared<int>(7);
    Weak<int> weakKept = kept;
    caller->sheet->loadProductWithParameters(product(), [kept](bool, Ref<NSError>) { EXPECT_EQ(*kept, 7); });
    kept.reset();
    caller.reset();  // the caller and its sheet go (a time-out, a closed browser)
    EXPECT_TRUE(weakCaller.expired());
    EXPECT_TRUE(weakSheet.expired());
    EXPECT_FALSE(weakKept.expired());

    StoreSheet::completePending(true);
    driver().drain();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(callerWasGone);
    EXPECT_TRUE(weakKept.expired());  // released once it ran
}

TEST_F(StoreSheetTest, MissingIdentifierFails) {
    StoreSheet::setNextResult(StoreSheet::Loads);
    auto outcome = std::make_shared<Outcome>();
    expectLogLine("SKStoreProductViewController: no product identifier in the parameters");
    sheet->loadProductWithParameters(Value::dictionary({{SKStoreProductParameterItemIdentifier, ""}}),
                                     record(outcome));
    sheet->loadProductWithParameters(Value(), nullptr);  // no completion: nothing to call
    driver().drain();
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(outcome->result);
    // The scripted result is still there for the next real load.
    auto next = std::make_shared<Outcome>();
    sheet->loadProductWithParameters(product(), record(next));
    driver().drain();
    EXPECT_TRUE(next->result);
}

// A subclass with its own rotation answers, presented and then closed by the user.
class RotatingSheet : public SKStoreProductViewController {
public:
    bool shouldAutorotate() override { return false; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() override { return UIInterfaceOrientationMaskAll; }
};

class DismissingDelegate : public NSObject, public SKStoreProductViewControllerDelegate {
public:
    int finished = 0;
    void productViewControllerDidFinish(Ref<SKStoreProductViewController> controller) override {
        ++finished;
        controller->dismissViewControllerAnimated(true, nullptr);
    }
};

TEST_F(StoreSheetTest, UserCloseGoesToTheDelegate) {
    auto subclassed = NSObject::alloc<RotatingSheet>();
    subclassed->init();
    auto delegate = NSObject::alloc<DismissingDelegate>();
    subclassed->setDelegate(delegate);
    rootViewController()->presentViewController(subclassed, true, nullptr);
    driver().advance(1);
    EXPECT_EQ(rootViewController()->presentedViewController(), subclassed);
    StoreSheet::simulateUserClose(subclassed);
    EXPECT_EQ(delegate->finished, 1);
    driver().advance(1);
    EXPECT_FALSE(rootViewController()->presentedViewController());

    delegate.reset();  // the delegate is weak: a close after it went does nothing
    StoreSheet::simulateUserClose(subclassed);
    StoreSheet::simulateUserClose(nullptr);
}

TEST_F(StoreSheetTest, RegisteredAndHideable) {
    platform::registerStoreClasses();
    EXPECT_TRUE(NSClassFromString("SKStoreProductViewController"));
    EXPECT_TRUE(NSClassFromString("SFSafariViewController"));  // system version 9.0
    NSClassRegistry::hideClassForTesting("SKStoreProductViewController");
    EXPECT_FALSE(NSClassFromString("SKStoreProductViewController"));
}

}  // namespace
