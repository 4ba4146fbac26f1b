// Drawing: recorded operations, the arc and gradient rules read back from
// pixels, snapshots compared with reference images, and images.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>

#include <zlib.h>

#include "UITestFixture.h"
#include "platform/testing/ResidentMemory.h"
#include "platform/ui/LabelFont.h"

namespace platform::testing {
namespace {

using DrawingTest = UITestFixture;
constexpr float kPi = std::numbers::pi_v<float>;

// A view whose drawRect runs the given function.
class Canvas : public UIView {
public:
    std::function<void(CGRect)> draw;
    int draws = 0;
    static Ref<Canvas> make(CGRect frame, std::function<void(CGRect)> draw) {
        auto v = std::make_shared<Canvas>();
        v->initWithFrame(frame);
        v->draw = std::move(draw);
        return v;
    }
    void drawRect(CGRect rect) override {
        ++draws;
        if (draw) draw(rect);
    }
};

// The classic close button: white disc, black disc, white cross.
void drawCloseButton(CGRect rect) {
    CGContextRef c = UIGraphicsGetCurrentContext();
    float W = rect.size.width, H = rect.size.height;
    float six = static_cast<float>(0.6 * double(W)), two = static_cast<float>(0.2 * double(W));
    float t = W / 15;
    CGContextSetFillColorWithColor(c, UIColor::whiteColor()->CGColor());
    CGContextFillEllipseInRect(c, CGRectMake((W - six) / 2, (H - six) / 2, six, static_cast<float>(0.6 * double(H))));
    CGContextSetFillColorWithColor(c, UIColor::blackColor()->CGColor());
    CGContextFillEllipseInRect(c, CGRectMake((W - six) / 2 + t, (H - six) / 2 + t, six - 2 * t,
                                             static_cast<float>(0.6 * double(H)) - 2 * t));
    CGContextSetLineWidth(c, t);
    CGContextSetStrokeColorWithColor(c, UIColor::whiteColor()->CGColor());
    float x0 = (W - two) / 2, y0 = (H - two) / 2, x1 = x0 + two, y1 = y0 + static_cast<float>(0.2 * double(H));
    CGContextMoveToPoint(c, x0, y0);
    CGContextAddLineToPoint(c, x1, y1);
    CGContextStrokePath(c);
    CGContextMoveToPoint(c, x1, y0);
    CGContextAddLineToPoint(c, x0, y1);
    CGContextStrokePath(c);
}

// An arc like the countdown clock's: from the top, clockwise false.
std::function<void(CGRect)> arc(float start, float end, bool clockwise) {
    return [=](CGRect r) {
        UIColor::redColor()->setStroke();
        auto path = UIBezierPath::bezierPathWithArcCenter(CGPointMake(r.size.width / 2, r.size.height / 2),
                                                          (r.size.width - 4) / 2, start, end, clockwise);
        path->setLineWidth(4);
        path->stroke();
    };
}

TEST_F(DrawingTest, DrawRectRunsInTheDisplayPassAndItsCallsAreRecorded) {
    auto button = Canvas::make(CGRectMake(0, 0, 50, 50), drawCloseButton);
    EXPECT_EQ(button->draws, 0);
    driver().drain();
    EXPECT_EQ(button->draws, 0);  // not in a window yet
    window()->addSubview(button);
    driver().drain();
    EXPECT_EQ(button->draws, 1);
    auto ops = button->lastDrawOperations();
    ASSERT_EQ(ops.size(), 12u);
    EXPECT_EQ(ops[1], (DrawOperation{"CGContextFillEllipseInRect", {10, 10, 30, 30}}));
    EXPECT_EQ(ops[3].name, "CGContextFillEllipseInRect");
    EXPECT_NEAR(ops[3].arguments[2], 23.3333f, 1e-3);
    EXPECT_EQ(ops[4].name, "CGContextSetLineWidth");
    EXPECT_NEAR(ops[4].arguments[0], 3.3333f, 1e-3);
    EXPECT_EQ(ops[6], (DrawOperation{"CGContextMoveToPoint", {20, 20}}));
    EXPECT_EQ(ops[7], (DrawOperation{"CGContextAddLineToPoint", {30, 30}}));
    EXPECT_EQ(ops[8].name, "CGContextStrokePath");
    driver().drain();
    EXPECT_EQ(button->draws, 1);  // only when marked
    button->setNeedsDisplay();
    driver().drain();
    EXPECT_EQ(button->draws, 2);
}

TEST_F(DrawingTest, SnapshotsMatchTheReferenceImages) {
    auto button = Canvas::make(CGRectMake(0, 0, 25, 25), drawCloseButton);
    button->setBackgroundColor(UIColor::grayColor());
    window()->addSubview(button);
    std::string png = scratch("close.png");
    ASSERT_TRUE(button->renderToPNG(png));
    EXPECT_EQ(pngWidth(png), 50);  // screen scale 2
    EXPECT_TRUE(matchesReference(png, "close_button.png"));

    // A small tree: rounded clipping, border, alpha, transform, gradient layer, image.
    auto root = UIView::alloc()->initWithFrame(CGRectMake(0, 0, 60, 40));
    root->setBackgroundColor(UIColor::whiteColor());
    auto red = UIView::alloc()->initWithFrame(CGRectMake(4, 4, 24, 16));
    red->setBackgroundColor(UIColor::redColor());
    red->layer()->setCornerRadius(6);
    red->setClipsToBounds(true);
    auto inside = UIView::alloc()->initWithFrame(CGRectMake(12, 8, 20, 20));  // clipped by red
    inside->setBackgroundColor(UIColor::blueColor());
    red->addSubview(inside);
    auto bordered = UIView::alloc()->initWithFrame(CGRectMake(32, 4, 24, 16));
    bordered->layer()->setBorderWidth(2);
    bordered->layer()->setBorderColor(UIColor::blackColor()->CGColor());
    bordered->setBackgroundColor(UIColor::greenColor());
    bordered->setAlpha(0.5f);
    auto turned = UIView::alloc()->initWithFrame(CGRectMake(8, 24, 10, 10));
    turned->setBackgroundColor(UIColor::magentaColor());
    turned->setTransform(CGAffineTransformMakeRotation(kPi / 4));
    auto gradient = CAGradientLayer::layer();
    gradient->setFrame(CGRectMake(24, 24, 32, 12));
    gradient->setColors({UIColor::yellowColor()->CGColor(), UIColor::blueColor()->CGColor()});
    gradient->setStartPoint(CGPointMake(0, 0.5f));
    gradient->setEndPoint(CGPointMake(1, 0.5f));
    auto hiddenView = UIView::alloc()->initWithFrame(root->bounds());
    hiddenView->setBackgroundColor(UIColor::blackColor());
    hiddenView->setHidden(true);
    for (const auto& v : {red, bordered, turned, hiddenView}) root->addSubview(v);
    root->layer()->addSublayer(gradient);
    std::string tree = scratch("tree.png");
    ASSERT_TRUE(root->renderToPNG(tree));
    EXPECT_EQ(pngWidth(tree), 120);
    EXPECT_EQ(pngHeight(tree), 80);
    EXPECT_TRUE(matchesReference(tree, "view_tree.png"));
    // Spot checks that do not need the reference.
    EXPECT_EQ(pixelAt(tree, 16, 16), 0xFFFF0000u);   // red
    EXPECT_EQ(pixelAt(tree, 50, 34), 0xFF0000FFu);   // the clipped blue square inside red
    EXPECT_EQ(pixelAt(tree, 8, 8) >> 24, 0xFFu);     // the white root behind the rounded corner
    EXPECT_EQ(pixelAt(tree, 9, 9) & 0xFFFFFF, 0xFFFFFFu);
    uint32_t faded = pixelAt(tree, 88, 20);          // green at alpha 0.5 over white
    EXPECT_NEAR(greenOf(faded), 255, 1);
    EXPECT_NEAR(redOf(faded), 128, 2);
    EXPECT_NE(pixelAt(tree, 50, 60), pixelAt(tree, 108, 60));  // the gradient changes across
}

// Two labels, regular and bold, on white.
Ref<UIView> labelSample() {
    auto root = UIView::alloc()->initWithFrame(CGRectMake(0, 0, 160, 56));
    root->setBackgroundColor(UIColor::whiteColor());
    auto regular = std::static_pointer_cast<UILabel>(UILabel::alloc()->initWithFrame(CGRectMake(4, 4, 152, 22)));
    regular->setText("Ghosts 12:34 ~ Åé");
    regular->setFont(UIFont::systemFontOfSize(15));
    auto bold = std::static_pointer_cast<UILabel>(UILabel::alloc()->initWithFrame(CGRectMake(4, 30, 152, 22)));
    bold->setText("Detected!");
    bold->setFont(UIFont::boldSystemFontOfSize(17));
    bold->setTextColor(UIColor::redColor());
    bold->setTextAlignment(NSTextAlignmentCenter);
    root->addSubview(regular);
    root->addSubview(bold);
    return root;
}

TEST_F(DrawingTest, LabelsAreDrawnWithTheInstallersFontTheSameEveryTime) {
    ASSERT_TRUE(LabelFont::isAvailable()) << "scripts/install-deps.sh installs fonts-dejavu-core";
    auto sample = labelSample();
    EXPECT_TRUE(SnapshotComparison::viewMatchesReference(sample, "platform/ui/tests/data/labels.png", scratch("snap")));
    // Byte for byte, not just pixel for pixel.
    ASSERT_TRUE(sample->renderToPNG(scratch("first.png")));
    ASSERT_TRUE(labelSample()->renderToPNG(scratch("second.png")));
    auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytes(scratch("first.png")), bytes(scratch("second.png")));
    auto all = pixels(scratch("first.png"));
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](uint32_t p) { return redOf(p) > 200 && greenOf(p) < 60; }));
}

TEST_F(DrawingTest, WithoutTheLabelFontNoTextIsDrawnAndSnapshotsFail) {
    expectLogLine("the label font " + scratch("absent.ttf") + " is missing");
    LabelFont::setFontFilesForTesting(scratch("absent.ttf"), "");
    EXPECT_FALSE(LabelFont::isAvailable());
    auto sample = labelSample();
    ASSERT_TRUE(sample->renderToPNG(scratch("without.png")));
    // The regular label drew nothing at all: no other font stood in.
    for (int y = 8; y < 52; ++y)
        for (int x = 8; x < 312; ++x) ASSERT_EQ(pixelAt(scratch("without.png"), x, y), 0xFFFFFFFFu) << x << "," << y;
    auto result = SnapshotComparison::viewMatchesReference(sample, "platform/ui/tests/data/labels.png", scratch("snap"));
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("is missing"), std::string::npos);
    EXPECT_FALSE(SnapshotComparison::windowMatchesReference(window(), "platform/ui/tests/data/labels.png", scratch("snap")));
    LabelFont::setFontFilesForTesting("", "");
    EXPECT_TRUE(LabelFont::isAvailable());
}

TEST_F(DrawingTest, ArcsFollowTheDirectionRule) {
    struct Case {
        const char* name;
        std::function<void(CGRect)> draw;
        bool upperLeft, upperRight, lowerLeft, lowerRight;  // which parts of the ring get paint
    } cases[] = {
        // start == end: nothing (a countdown that has not started).
        {"same", arc(-kPi / 2, -kPi / 2, false), false, false, false, false},
        // -90° to 90°, clockwise false: decreasing angle, through the left side.
        {"half", arc(-kPi / 2, kPi / 2, false), true, false, true, false},
        // The same with clockwise true: through the right side.
        {"half-cw", arc(-kPi / 2, kPi / 2, true), false, true, false, true},
        // -90° to 270°, clockwise false: a full circle.
        {"full", arc(-kPi / 2, 270 * kPi / 180, false), true, true, true, true},
        // A total of 0 gives NaN: nothing, and no damage to the context.
        {"nan", arc(-kPi / 2, NAN, false), false, false, false, false},
    };
    for (const auto& c : cases) {
        auto v = Canvas::make(CGRectMake(0, 0, 40, 40), c.draw);
        std::string png = scratch(std::string(c.name) + ".png");
        ASSERT_TRUE(v->renderToPNG(png));
        // The ring of radius 18 around (20, 20), at 45° points, in pixels at scale 2.
        EXPECT_EQ(alphaOf(pixelAt(png, 15, 15)) > 128, c.upperLeft) << c.name;
        EXPECT_EQ(alphaOf(pixelAt(png, 65, 15)) > 128, c.upperRight) << c.name;
        EXPECT_EQ(alphaOf(pixelAt(png, 15, 65)) > 128, c.lowerLeft) << c.name;
        EXPECT_EQ(alphaOf(pixelAt(png, 65, 65)) > 128, c.lowerRight) << c.name;
    }
    // The context's arc: clockwise 1 draws with decreasing angle.
    auto v = Canvas::make(CGRectMake(0, 0, 40, 40), [](CGRect) {
        CGContextRef c = UIGraphicsGetCurrentContext();
        CGContextSetRGBStrokeColor(c, 0, 0, 1, 1);
        CGContextSetLineWidth(c, 4);
        CGContextAddArc(c, 20, 20, 18, -kPi / 2, kPi / 2, 1);
        CGContextStrokePath(c);
    });
    std::string png = scratch("context-arc.png");
    ASSERT_TRUE(v->renderToPNG(png));
    EXPECT_GT(alphaOf(pixelAt(png, 4, 40)), 128);
    EXPECT_EQ(alphaOf(pixelAt(png, 76, 40)), 0);
}

TEST_F(DrawingTest, GradientsClampBetweenTheEndsAndExtendOnlyWhenAsked) {
    auto space = CGColorSpaceCreateDeviceRGB();
    const CGFloat locations[] = {0.0f, 0.5f, 1.0f};
    auto twoColours = CGGradientCreateWithColors(space, {UIColor::redColor()->CGColor(), UIColor::blueColor()->CGColor()},
                                                 locations);
    auto draw = [&](CGGradientDrawingOptions options, bool radial) {
        return [=](CGRect r) {
            CGContextRef c = UIGraphicsGetCurrentContext();
            CGContextSaveGState(c);  // left unbalanced on purpose: harmless
            if (radial)
                CGContextDrawRadialGradient(c, twoColours, CGPointMake(20, 20), 0, CGPointMake(20, 20), 10, options);
            else
                CGContextDrawLinearGradient(c, twoColours, CGPointMake(r.size.width / 2, 10),
                                            CGPointMake(r.size.width / 2, 30), options);
        };
    };
    // Linear from y 10 to 30, options 0: nothing above 10 or below 30; the
    // second colour from the middle (y 20) to the end.
    auto linear = Canvas::make(CGRectMake(0, 0, 40, 40), draw(0, false));
    std::string png = scratch("linear.png");
    ASSERT_TRUE(linear->renderToPNG(png));
    EXPECT_EQ(pixelAt(png, 40, 10), 0u);
    EXPECT_EQ(pixelAt(png, 40, 70), 0u);
    EXPECT_GT(redOf(pixelAt(png, 40, 22)), 200);
    EXPECT_EQ(pixelAt(png, 40, 50), 0xFF0000FFu);
    EXPECT_EQ(pixelAt(png, 40, 58), 0xFF0000FFu);

    auto extended = Canvas::make(CGRectMake(0, 0, 40, 40),
                                 draw(kCGGradientDrawsBeforeStartLocation | kCGGradientDrawsAfterEndLocation, false));
    ASSERT_TRUE(extended->renderToPNG(png));
    EXPECT_EQ(pixelAt(png, 40, 2), 0xFFFF0000u);
    EXPECT_EQ(pixelAt(png, 40, 78), 0xFF0000FFu);

    // Radial to radius 10, drawing after the end: the outer colour beyond.
    auto radial = Canvas::make(CGRectMake(0, 0, 40, 40), draw(kCGGradientDrawsAfterEndLocation, true));
    ASSERT_TRUE(radial->renderToPNG(png));
    EXPECT_EQ(pixelAt(png, 2, 2), 0xFF0000FFu);
    EXPECT_GT(redOf(pixelAt(png, 40, 40)), 200);
    auto bounded = Canvas::make(CGRectMake(0, 0, 40, 40), draw(0, true));
    ASSERT_TRUE(bounded->renderToPNG(png));
    EXPECT_EQ(pixelAt(png, 2, 2), 0u);
}

// A white root of `size` holding the label at its frame.
std::string renderLabelOnWhite(const Ref<UILabel>& label, CGSize size, const std::string& png) {
    auto root = UIView::alloc()->initWithFrame(CGRectMake(0, 0, size.width, size.height));
    root->setBackgroundColor(UIColor::whiteColor());
    root->addSubview(label);
    EXPECT_TRUE(root->renderToPNG(png));
    return png;
}

Ref<UILabel> makeLabel(const std::string& text, Ref<UIFont> font, CGRect frame) {
    auto label = std::static_pointer_cast<UILabel>(UILabel::alloc()->initWithFrame(frame));
    label->setText(text);
    label->setFont(std::move(font));
    return label;
}

// The first and last pixel columns holding any ink; {-1, -1} when blank.
std::pair<int, int> inkColumns(const std::string& png) {
    int width = SnapshotComparison::pngWidth(png);
    auto all = SnapshotComparison::pixels(png);
    std::pair<int, int> ink{-1, -1};
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == 0xFFFFFFFFu) continue;
        int x = int(i % size_t(width));
        if (ink.first < 0 || x < ink.first) ink.first = x;
        ink.second = std::max(ink.second, x);
    }
    return ink;
}

TEST_F(DrawingTest, ALabelSizedToItsTextShowsItWholeAndItsMeasureIsTheDrawnExtent) {
    ASSERT_TRUE(LabelFont::isAvailable());
    const CGFloat scale = UIScreen::mainScreen()->scale();
    struct Case {
        std::string text;
        Ref<UIFont> font;
    } cases[] = {
        {"Paranormal Detector", UIFont::systemFontOfSize(18)},
        {"Detected!", UIFont::boldSystemFontOfSize(17)},
        {"Ghosts 12:34 ~ \xc3\x85\xc3\xa9", UIFont::systemFontOfSize(15)},
        {"Hi \xff there", UIFont::boldSystemFontOfSize(20)},  // an invalid byte neither stops nor shrinks it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto fitted = makeLabel(c.text, c.font, CGRectZero);
        fitted->sizeToFit();
        CGSize size = fitted->frame().size;
        EXPECT_EQ(size.height, c.font->lineHeight());
        EXPECT_EQ(NSString::sizeWithAttributes(c.text, Value::dictionary({{NSFontAttributeName, c.font}})), size);
        // Not one pixel differs from the same text with room to spare.
        auto roomy = makeLabel(c.text, c.font, CGRectMake(0, 0, 400, size.height));
        std::string fittedPng = renderLabelOnWhite(fitted, {400, 40}, scratch("fitted.png"));
        std::string roomyPng = renderLabelOnWhite(roomy, {400, 40}, scratch("roomy.png"));
        EXPECT_EQ(pixels(fittedPng), pixels(roomyPng));
        // The ink ends at the measured width, short of it by a side bearing at most.
        auto [inkLeft, inkRight] = inkColumns(roomyPng);
        EXPECT_LE(inkRight + 1, int(std::ceil(size.width * scale)));
        EXPECT_GE(inkRight + 1, int((size.width - 0.15f * c.font->pointSize()) * scale));
        // Centred by that width: equal margins, give or take the side bearings.
        roomy->setTextAlignment(NSTextAlignmentCenter);
        auto [left, right] = inkColumns(renderLabelOnWhite(roomy, {400, 40}, scratch("centred.png")));
        EXPECT_NEAR(left - inkLeft, int(400 * scale) - 1 - right, 0.15 * c.font->pointSize() * scale);
    }
    // Bold text is measured with the bold file, not the regular one.
    EXPECT_GT(UIFont::boldSystemFontOfSize(17)->widthOfText("Detected!"),
              UIFont::systemFontOfSize(17)->widthOfText("Detected!") + 1);
}

TEST_F(DrawingTest, AMultiLineLabelWrapsWhereItWasMeasuredAndDrawsThoseLines) {
    const std::string text = "Paranormal activity nearby\nGo";
    auto font = UIFont::systemFontOfSize(16);
    auto lines = font->linesOfText(text, 120);
    ASSERT_GE(lines.size(), 3u);
    std::string joined;
    CGFloat widest = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        joined += lines[i].text;
        widest = std::max(widest, lines[i].width);
        EXPECT_LE(lines[i].width, 120);
        EXPECT_EQ(lines[i].width, font->widthOfText(lines[i].text));
        if (i + 2 < lines.size()) {
            EXPECT_GT(font->widthOfText(lines[i].text + lines[i + 1].text[0]), 120) << "as many as fit";
        }
    }
    EXPECT_EQ(joined, "Paranormal activity nearbyGo");
    EXPECT_EQ(lines.back().text, "Go");

    auto label = makeLabel(text, font, CGRectZero);
    label->setNumberOfLines(0);
    CGSize size = label->sizeThatFits(CGSizeMake(120, 1000));
    EXPECT_EQ(size, CGSizeMake(widest, CGFloat(lines.size()) * font->lineHeight()));
    label->setNumberOfLines(2);
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(120, 1000)).height, 2 * font->lineHeight());
    label->setNumberOfLines(0);
    // Framed at the measured size it draws the lines it was measured by.
    label->setFrame(CGRectMake(0, 0, size.width, size.height));
    auto wide = makeLabel(text, font, CGRectMake(0, 0, 120, size.height));
    wide->setNumberOfLines(0);
    EXPECT_EQ(pixels(renderLabelOnWhite(label, {120, size.height}, scratch("measured.png"))),
              pixels(renderLabelOnWhite(wide, {120, size.height}, scratch("wide.png"))));
}

TEST_F(DrawingTest, WithoutTheLabelFontTextIsMeasuredByTheFixedMetrics) {
    expectLogLine("the label font " + scratch("absent.ttf") + " is missing");
    expectLogLine("the label font " + scratch("absent-bold.ttf") + " is missing");
    LabelFont::setFontFilesForTesting(scratch("absent.ttf"), scratch("absent-bold.ttf"));
    auto label = makeLabel("Hi \xff there", UIFont::boldSystemFontOfSize(20), CGRectMake(0, 0, 100, 30));
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeMake(100, 24));  // 10 units × 10, ceil(1.2 × 20)
    label->setText("one\ntwo three");
    label->setNumberOfLines(0);
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(1000, 1000)), CGSizeMake(90, 48));
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(40, 1000)), CGSizeMake(40, 96));  // 4 a line: "one", "two ", "thre", "e"
    label->setNumberOfLines(1);
    label->sizeToFit();
    EXPECT_EQ(label->frame(), CGRectMake(0, 0, 30, 24));  // the one line it shows
    EXPECT_EQ(NSString::sizeWithAttributes("abcd", Value::dictionary({{NSFontAttributeName, UIFont::systemFontOfSize(16)}})),
              CGSizeMake(32, 20));
    LabelFont::setFontFilesForTesting("", "");
}

// ---- images ----

std::string writeFile(const std::string& path, const NSData& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.bytes()), std::streamsize(data.length()));
    return path;
}

Ref<UIImage> makeImage(CGSize size, CGFloat scale, CGFloat r, CGFloat g, CGFloat b) {
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), r, g, b, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, size.width, size.height));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

TEST_F(DrawingTest, PngImagesRoundTripAndOtherBytesGiveNil) {
    auto image = makeImage(CGSizeMake(30, 20), 2, 0, 1, 0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), CGSizeMake(30, 20));
    EXPECT_EQ(image->scale(), 2);
    auto png = UIImagePNGRepresentation(image);
    ASSERT_TRUE(png);
    auto decoded = UIImage::imageWithData(*png);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), CGSizeMake(60, 40));  // scale 1 from data
    EXPECT_EQ(decoded->CGImage()->pixels[0], 0xFF00FF00u);
    auto file = UIImage::imageWithContentsOfFile(writeFile(scratch("icon@2x.png"), *png));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->scale(), 2);
    EXPECT_EQ(file->size(), CGSizeMake(30, 20));

    // Truncated, empty, HTML, a hostile header: nil, never a crash.
    EXPECT_FALSE(UIImage::imageWithData(png->subdataWithRange(0, png->length() / 2)));
    EXPECT_FALSE(UIImage::imageWithData(png->subdataWithRange(0, 20)));
    EXPECT_FALSE(UIImage::imageWithData(NSData()));
    EXPECT_FALSE(UIImage::imageWithData(NSData::dataWithString("<html><body>not found</body></html>")));
    NSData huge = *png;
    uint8_t* bytes = huge.mutableBytes();
    bytes[16] = 0x7F;  // width 2^30 and more
    EXPECT_FALSE(UIImage::imageWithData(huge));
    EXPECT_FALSE(UIImage::imageWithContentsOfFile(scratch("missing.png")));
    EXPECT_FALSE(UIImagePNGRepresentation(nullptr));
}

// An 8-bit grey PNG of zero rows, compressed as it is made: a few KB at
// any size, as a decompression bomb is.
NSData blankPNG(uint32_t width, uint32_t height) {
    const auto chunk = [](NSData& out, const char* type, const std::string& body) {
        const auto big32 = [&out](uint32_t v) {
            const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
            out.appendBytes(b, 4);
        };
        big32(static_cast<uint32_t>(body.size()));
        std::string typed = type + body;
        out.appendBytes(typed.data(), typed.size());
        big32(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
    };
    std::string header(13, '\0');
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<char>(width >> (24 - 8 * i));
        header[4 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    header[8] = 8;  // bit depth; colour type 0: grey
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    std::string row(width + 1, '\0'), compressed;  // filter byte, then the grey values
    char buffer[1 << 16];
    for (uint32_t y = 0; y <= height; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(row.data());
        z.avail_in = y < height ? static_cast<uInt>(row.size()) : 0;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, y < height ? Z_NO_FLUSH : Z_FINISH);
            compressed.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    NSData png;
    png.appendBytes("\x89PNG\r\n\x1A\n", 8);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", compressed);
    chunk(png, "IEND", "");
    return png;
}

// Each decoded image holds its pixels once (64 MB at most), and a header
// claiming more is refused before anything is allocated.
TEST_F(DrawingTest, DecompressionBombsAreRefusedAndImagesDecodeIntoOneCopy) {
    const size_t MB = 1024 * 1024;
    NSData bomb = blankPNG(8192, 8192);
    EXPECT_LT(bomb.length(), 100000u);
    // What decoding it would cost is read from its header alone.
    EXPECT_EQ(UIImage::decodedPixelCount(bomb), 8192u * 8192u);
    EXPECT_EQ(UIImage::decodedPixelCount(NSData(bomb.bytes(), 32)), 0u);
    expectLogLine("image refused: 8192x8192 pixels is over the cap of 16777216 pixels");
    platform::testing::resetPeakResidentBytes();
    size_t before = platform::testing::peakResidentBytes();
    EXPECT_FALSE(UIImage::imageWithData(bomb));
    EXPECT_LT(platform::testing::peakResidentBytes() - before, 16 * MB);
    EXPECT_FALSE(UIImage::imageWithData(blankPNG(4096, 4097)));
    EXPECT_FALSE(UIImage::imageWithData(blankPNG(16385, 1)));

    // At the cap: decoded, one 64 MB copy of the pixels at its peak, and
    // drawn from that copy.
    NSData largest = blankPNG(4096, 4096);
    platform::testing::resetPeakResidentBytes();
    before = platform::testing::peakResidentBytes();
    auto image = UIImage::imageWithData(largest);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), CGSizeMake(4096, 4096));
    EXPECT_EQ(image->CGImage()->pixels[4096 * 4096 - 1], 0xFF000000u);
    EXPECT_LT(platform::testing::peakResidentBytes() - before, 96 * MB);
    auto view = UIImageView::alloc()->initWithImage(image);
    view->setFrame(CGRectMake(0, 0, 8, 8));
    std::string png = scratch("largest.png");
    ASSERT_TRUE(view->renderToPNG(png));
    EXPECT_EQ(pixelAt(png, 4, 4), 0xFF000000u);
}

// Bytes that announce a large image and stop short, in its data or just
// before its end, allocate no pixels for it.
TEST_F(DrawingTest, TruncatedImagesAllocateNothingForThePixelsTheyAnnounce) {
    const size_t MB = 1024 * 1024;
    NSData whole = blankPNG(4096, 4096);
    for (size_t length : {size_t{60}, whole.length() / 2, whole.length() - 12}) {
        NSData cut = whole.subdataWithRange(0, length);
        EXPECT_EQ(UIImage::decodedPixelCount(cut), 4096u * 4096u);
        platform::testing::releaseFreedMemory();
        platform::testing::resetPeakResidentBytes();
        const size_t before = platform::testing::peakResidentBytes();
        EXPECT_FALSE(UIImage::imageWithData(cut)) << length;
        EXPECT_LT(platform::testing::peakResidentBytes() - before, 8 * MB) << length;
    }
}

TEST_F(DrawingTest, JpegAndGifAreSizedFromTheirHeadersOnly) {
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x4A, 0x46,  // APP0, 2 bytes of payload
                            0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x78, 0x00, 0xA0, 0x03, 0x01, 0x22, 0x00,
                            0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    auto j = UIImage::imageWithData(NSData(jpeg, sizeof jpeg));
    ASSERT_TRUE(j);
    EXPECT_EQ(j->size(), CGSizeMake(160, 120));
    EXPECT_TRUE(j->CGImage()->placeholder);
    EXPECT_FALSE(UIImagePNGRepresentation(j));
    EXPECT_FALSE(UIImage::imageWithData(NSData(jpeg, 12)));  // cut inside the frame header
    EXPECT_EQ(UIImage::decodedPixelCount(NSData(jpeg, sizeof jpeg)), 0u);  // never decoded

    const uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a', 0x40, 0x01, 0xF0, 0x00, 0x00, 0x00, 0x00};
    auto g = UIImage::imageWithData(NSData(gif, sizeof gif));
    ASSERT_TRUE(g);
    EXPECT_EQ(g->size(), CGSizeMake(320, 240));
    EXPECT_FALSE(UIImage::imageWithData(NSData(gif, 8)));

    // A placeholder draws as neutral grey.
    auto view = UIImageView::alloc()->initWithImage(g);
    view->setFrame(CGRectMake(0, 0, 10, 10));
    std::string png = scratch("gif.png");
    ASSERT_TRUE(view->renderToPNG(png));
    EXPECT_EQ(pixelAt(png, 5, 5), 0xFF808080u);
}

TEST_F(DrawingTest, NamedImagesAreFoundByScaleAndIdiomAndCached) {
    auto png = *UIImagePNGRepresentation(makeImage(CGSizeMake(4, 4), 1, 1, 0, 0));
    auto big = *UIImagePNGRepresentation(makeImage(CGSizeMake(114, 114), 1, 0, 0, 1));
    writeFile(bundlePath() + "/arrow.png", png);
    writeFile(bundlePath() + "/arrow@2x.png", big);
    writeFile(bundlePath() + "/Default-Portrait~ipad.png", png);
    writeFile(bundlePath() + "/Default-568h@2x.png", big);
    writeFile(bundlePath() + "/photo.jpg", NSData::dataWithString("not a jpeg"));

    auto arrow = UIImage::imageNamed("arrow");
    ASSERT_TRUE(arrow);
    EXPECT_EQ(arrow->scale(), 2);  // arrow@2x first on a 2x screen
    EXPECT_EQ(arrow->size(), CGSizeMake(57, 57));
    EXPECT_EQ(UIImage::imageNamed("arrow"), arrow);  // cached
    EXPECT_TRUE(UIImage::imageNamed("Default-Portrait~ipad"));
    auto given = UIImage::imageNamed("Default-568h@2x.png");
    ASSERT_TRUE(given);
    EXPECT_EQ(given->size(), CGSizeMake(57, 57));
    EXPECT_FALSE(UIImage::imageNamed("photo.jpg"));
    EXPECT_FALSE(UIImage::imageNamed("nothing"));
    EXPECT_FALSE(UIImage::imageNamed(""));
}

TEST_F(DrawingTest, ImageViewsShowTheirImageByContentMode) {
    auto image = makeImage(CGSizeMake(20, 10), 1, 0, 0, 1);
    auto view = UIImageView::alloc()->initWithImage(image);
    EXPECT_EQ(view->frame(), CGRectMake(0, 0, 20, 10));
    EXPECT_EQ(view->intrinsicContentSize(), CGSizeMake(20, 10));
    view->setFrame(CGRectMake(0, 0, 20, 20));
    view->setBackgroundColor(UIColor::whiteColor());
    view->setContentMode(UIViewContentModeScaleAspectFit);
    std::string png = scratch("fit.png");
    ASSERT_TRUE(view->renderToPNG(png));
    EXPECT_EQ(pixelAt(png, 20, 4), 0xFFFFFFFFu);   // letterbox
    EXPECT_EQ(pixelAt(png, 20, 20), 0xFF0000FFu);  // image
    view->setContentMode(UIViewContentModeScaleToFill);
    ASSERT_TRUE(view->renderToPNG(png));
    EXPECT_EQ(pixelAt(png, 20, 4), 0xFF0000FFu);
}

TEST_F(DrawingTest, AnUnwritablePathIsReportedNotThrown) {
    auto v = UIView::alloc()->initWithFrame(CGRectMake(0, 0, 4, 4));
    expectLogLine("renderToPNG: cannot write");
    EXPECT_FALSE(v->renderToPNG(scratch("no/such/folder/x.png")));
    EXPECT_TRUE(window()->snapshotPNG(scratch("window.png")));
    EXPECT_EQ(pngWidth(scratch("window.png")), 640);
}

}  // namespace
}  // namespace platform::testing
