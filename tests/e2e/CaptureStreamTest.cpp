// The real capture service on the test desktop: a solid window under the strip is what the frames show, our
// own windows over it are left out when the filter says so, screenshots, the desktop picture, and a stream
// whose monitor goes away.
#include <sys/uio.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "E2eSupport.h"
#include "ForeignWindow.h"
#include "base/QtMainLoop.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11WallpaperSource.h"
#include "support/FakeCaptureService.h"

namespace velaro::e2e {
namespace {

const QColor kSolid(0xd0, 0x3c, 0x8c);
const QColor kOverlay(0x22, 0xaa, 0x44);
const QColor kMiddle(0xf0, 0xc0, 0x20);
const QColor kDesktop(0x3a, 0x6e, 0xa5);

// A window of one colour of another program than the test, left to the window manager or not.
ForeignWindow::Options other(QColor colour, QRect place, bool managed, const char* title) {
    return {.rgb = colour.rgb() & 0xffffff,
            .place = place,
            .instance = "capture-test",
            .className = "CaptureTest",
            .title = title,
            .managed = managed,
            .decorated = managed};
}

// The frames of one stream, collected on its queue.
struct FrameLog {
    std::mutex mutex;
    std::vector<CaptureFrame> frames;
    void add(const CaptureFrame& f) {
        std::lock_guard lock(mutex);
        frames.push_back(f);
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return frames.size();
    }
    CaptureFrame last() {
        std::lock_guard lock(mutex);
        return frames.back();
    }
};

// The wake-ups so far (voluntary context switches) of this process's threads named `name`; -1 for none.
long long threadWakeups(const std::string& name) {
    long long total = -1;
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed().toStdString() != name) continue;
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                total = std::max(total, 0LL) + line.mid(24).trimmed().toLongLong();
    }
    return total;
}

bool near(const std::uint8_t* bgra, QColor c, int tolerance) {
    return std::abs(bgra[2] - c.red()) <= tolerance && std::abs(bgra[1] - c.green()) <= tolerance &&
           std::abs(bgra[0] - c.blue()) <= tolerance;
}
// How many pixels of the frame are within `tolerance` of `c`.
int pixelsNear(const CaptureFrame& f, QColor c, int tolerance = 2) {
    int n = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) n += near(f.row(y) + 4 * x, c, tolerance);
    return n;
}

class CaptureDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(session);
    }

    std::optional<ShareableContent> content(X11CaptureService& service) {
        std::optional<ShareableContent> result;
        bool done = false;
        service.getShareableContent(false, true, [&](auto c, auto) {
            result = std::move(c);
            done = true;
        });
        waitUntil([&] { return done; });
        return result;
    }

    std::optional<CaptureError> await(const std::function<void(CaptureCompletion)>& call) {
        std::optional<CaptureError> error;
        bool done = false;
        call([&](auto e) {
            error = e;
            done = true;
        });
        if (!waitUntil([&] { return done; }))
            return CaptureError{CaptureErrorCode::failedToStart, "no completion"};
        return error;
    }

    // Waits until the screen shows `colour` at `at`; whether it came.
    static bool showsOnScreen(QPoint at, QColor colour) {
        return closeTo(screenshotWhen([&](const QImage& shot) {
                           return closeTo(shot.pixelColor(at), colour);
                       }).pixelColor(at),
                       colour);
    }

    TestSession session;
    QtMainLoop loop;
    std::shared_ptr<SerialQueue> frameQueue{loop.makeSerialQueue("com.quornet.Velaro.frames")};
};

// Each way of reading pixels and of filling in what the filter leaves out must give the same strip.
struct ReadingPath {
    const char* name;
    bool allowShm;
    bool allowCompositorPictures;
};
class CaptureStripTest : public CaptureDesktopTest, public ::testing::WithParamInterface<ReadingPath> {
protected:
    x11capture::CaptureOptions pathOptions() const {
        x11capture::CaptureOptions options;
        options.allowShm = GetParam().allowShm;
        options.allowCompositorPictures = GetParam().allowCompositorPictures;
        return options;
    }
};
INSTANTIATE_TEST_SUITE_P(Paths, CaptureStripTest,
                         ::testing::Values(ReadingPath{"SharedMemoryAndCompositor", true, true},
                                           ReadingPath{"PlainGetImage", false, true},
                                           ReadingPath{"NearestCleanColumns", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(CaptureStripTest, StripShowsTheWindowBeneathAndLeavesOutOurOwnWindows) {
    ForeignWindow solid(other(kSolid, {200, 200, 800, 300}, false, "capture-solid"));
    // The other program maps its window in its own time: ours goes above it only once it shows.
    ASSERT_TRUE(showsOnScreen({700, 350}, kSolid));
    // A narrow window of a third colour over the solid one, entirely under the part ours will cover.
    ForeignWindow middle(other(kMiddle, {300, 250, 100, 100}, false, "capture-middle"));
    ASSERT_TRUE(showsOnScreen({350, 320}, kMiddle));
    OwnWindow overlay(kOverlay, {200, 300, 300, 40});
    overlay.show();
    ASSERT_TRUE(showsOnScreen({300, 310}, kOverlay));

    X11CaptureService service(loop, *session, pathOptions());
    const auto desktop = content(service);
    ASSERT_TRUE(desktop && !desktop->displays.empty());
    const CaptureDisplay display = desktop->displays.front();
    std::optional<CaptureApplication> ours;
    for (const auto& app : desktop->applications)
        if (app.processID == getpid()) ours = app;
    ASSERT_TRUE(ours) << "our own window's program is not among the applications";
    EXPECT_EQ(ours->appId, "com.quornet.Velaro");

    // The strip crosses our window's lower part; half the pixel width, so frames are scaled.
    const StreamConfiguration config{{220, 310, 760, 6}, 380, 6, 1.0 / 30, 4};
    FrameLog log;
    bool stoppedByItself = false;
    auto stream = service.makeStream(ContentFilter::displayExcludingWindows(display, {}), config,
                                     [&](CaptureStream&, const CaptureError&) { stoppedByItself = true; });
    ASSERT_FALSE(stream->addStreamOutput([&](const CaptureFrame& f) { log.add(f); }, frameQueue));
    ASSERT_FALSE(await([&](auto done) { stream->startCapture(done); }));

    // Unfiltered, our window shows: the test can see the difference it is about to check.
    ASSERT_TRUE(waitUntil([&] { return log.count() > 0 && pixelsNear(log.last(), kOverlay, 8) > 0; }))
        << "our own window never showed in the unfiltered strip";
    const CaptureFrame first = log.last();
    EXPECT_EQ(first.width, 380);
    EXPECT_EQ(first.height, 6);

    // Our program left out as a whole, then (as when our program is not listed) our windows one by one.
    std::vector<CaptureWindow> ourWindows;
    for (const auto& w : desktop->windows)
        if (w.owningApplication && w.owningApplication->processID == getpid()) ourWindows.push_back(w);
    for (const ContentFilter& filter : {ContentFilter::displayExcludingApplications(display, {*ours}),
                                        ContentFilter::displayExcludingWindows(display, ourWindows)}) {
        const std::size_t seen = log.count();
        ASSERT_FALSE(await([&](auto done) { stream->updateContentFilter(filter, done); }));
        // A frame taken with the new filter goes out before its completion, whatever it shows; frames
        // grabbed before may come first.
        EXPECT_TRUE(waitUntil([&] { return log.count() > seen && pixelsNear(log.last(), kOverlay, 8) == 0; }))
            << "our own window is in the filtered strip";
        const CaptureFrame filtered = log.last();
        if (GetParam().allowCompositorPictures) {
            // What lies beneath ours is read back: the third window at root x 300..400, frame columns 40..89.
            EXPECT_EQ(pixelsNear(filtered, kMiddle), 50 * filtered.height);
            EXPECT_EQ(pixelsNear(filtered, kSolid), (filtered.width - 50) * filtered.height);
        } else {
            // Without window pictures the covered columns repeat the nearest visible ones: the solid window.
            EXPECT_EQ(pixelsNear(filtered, kSolid), filtered.width * filtered.height);
        }
    }

    if (GetParam().allowCompositorPictures) {
        // The pictures of the windows beneath are kept between frames: they must follow a window's new
        // content, and be taken anew once it has a new size (and so new storage).
        std::optional<std::uint32_t> middleWindow;
        const auto now = content(service);
        ASSERT_TRUE(now);
        for (const auto& w : now->windows)
            if (w.title == "capture-middle") middleWindow = static_cast<std::uint32_t>(w.windowID);
        ASSERT_TRUE(middleWindow);
        auto other = x11::Connection::open();
        ASSERT_TRUE(other);
        const QColor kRepainted(0x30, 0x60, 0xe0);
        const std::uint32_t rgb = kRepainted.rgb() & 0xffffff;
        xcb_change_window_attributes(other->get(), *middleWindow, XCB_CW_BACK_PIXEL, &rgb);
        xcb_clear_area(other->get(), 0, *middleWindow, 0, 0, 0, 0);
        xcb_flush(other->get());
        EXPECT_TRUE(waitUntil([&] { return pixelsNear(log.last(), kRepainted) == 50 * log.last().height; }))
            << "a kept picture showed the window's old content";
        const std::uint32_t width = 150;  // root x 300..450: frame columns 40..114
        xcb_configure_window(other->get(), *middleWindow, XCB_CONFIG_WINDOW_WIDTH, &width);
        xcb_clear_area(other->get(), 0, *middleWindow, 0, 0, 0, 0);
        xcb_flush(other->get());
        EXPECT_TRUE(waitUntil([&] { return pixelsNear(log.last(), kRepainted) == 75 * log.last().height; }))
            << "the picture of a resized window was not taken anew";
    }

    ASSERT_FALSE(await([&](auto done) { stream->stopCapture(done); }));
    const std::size_t atStop = log.count();
    waitUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(log.count(), atStop) << "frames arrived after the stop completed";
    EXPECT_FALSE(stoppedByItself);
}

TEST_P(CaptureStripTest, StillStripSendsNothingUntilSomethingBeneathIsDrawnOrAFrameIsAsked) {
    ForeignWindow solid(other(kSolid, {200, 200, 800, 300}, false, "capture-still"));
    ASSERT_TRUE(showsOnScreen({700, 350}, kSolid));
    OwnWindow overlay(kOverlay, {200, 300, 300, 40});
    overlay.show();
    ASSERT_TRUE(showsOnScreen({300, 310}, kOverlay));
    X11CaptureService service(loop, *session, pathOptions());
    const auto desktop = content(service);
    ASSERT_TRUE(desktop && !desktop->displays.empty());
    std::optional<CaptureApplication> ours;
    std::optional<std::uint32_t> stillWindow;
    for (const auto& app : desktop->applications)
        if (app.processID == getpid()) ours = app;
    for (const auto& w : desktop->windows)
        if (w.title == "capture-still") stillWindow = w.windowID;
    ASSERT_TRUE(ours && stillWindow);

    // Our window lies over the strip's left part: there the pixels come from beneath it, elsewhere from the
    // screen itself.
    FrameLog log;
    auto stream =
        service.makeStream(ContentFilter::displayExcludingApplications(desktop->displays.front(), {*ours}),
                           {{220, 310, 760, 6}, 760, 6, 1.0 / 60, 4}, {});
    ASSERT_FALSE(stream->addStreamOutput([&](const CaptureFrame& f) { log.add(f); }, frameQueue));
    ASSERT_FALSE(await([&](auto done) { stream->startCapture(done); }));
    ASSERT_TRUE(waitUntil([&] { return log.count() >= 1; }));
    EXPECT_EQ(pixelsNear(log.last(), kSolid), 760 * 6);

    // Nothing is drawn beneath: no frame follows the first at 60 a second, and the capture thread sleeps
    // (a thread woken for every frame would wake 30 times in this half second).
    const long long wakeupsBefore = threadWakeups("velaro-capture");
    ASSERT_GE(wakeupsBefore, 0) << "no capture thread";
    waitUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(log.count(), 1u) << "a strip nothing drew on went out again";
    EXPECT_LE(threadWakeups("velaro-capture") - wakeupsBefore, 5)
        << "the capture thread woke though nothing beneath changed";

    // Asked for, the frame goes out again as it was grabbed: the same pixels, with its own time.
    stream->requestFrame();
    ASSERT_TRUE(waitUntil([&] { return log.count() == 2; })) << "an asked-for frame did not come";
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.frames[1].pixels, log.frames[0].pixels) << "the strip was grabbed again";
        EXPECT_GT(log.frames[1].timestamp, log.frames[0].timestamp);
    }

    // The window beneath takes a new colour: the frames show it under our window and beside it alike, and
    // then stop again.
    auto other = x11::Connection::open();
    ASSERT_TRUE(other);
    const QColor kRepainted(0x30, 0x60, 0xe0);
    const std::uint32_t rgb = kRepainted.rgb() & 0xffffff;
    xcb_change_window_attributes(other->get(), *stillWindow, XCB_CW_BACK_PIXEL, &rgb);
    xcb_clear_area(other->get(), 0, *stillWindow, 0, 0, 0, 0);
    xcb_flush(other->get());
    EXPECT_TRUE(waitUntil([&] { return pixelsNear(log.last(), kRepainted) == 760 * 6; }))
        << "drawing beneath the strip was not sent";
    // The compositor may show the new colour a frame after the window has it; after that, nothing.
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    const std::size_t settled = log.count();
    waitUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(log.count(), settled) << "frames went on once the drawing had been sent";

    // The notices the strip was followed by go with the last stream, without anything else asked of the
    // service: kept, every drawing on the screen would pile up at the server for a capture that waits.
    EXPECT_GT(xResourcesOf(getpid(), "DamageExt"), 0) << "the strip was not followed";
    ASSERT_FALSE(await([&](auto done) { stream->stopCapture(done); }));
    EXPECT_TRUE(waitUntil([] { return xResourcesOf(getpid(), "DamageExt") == 0; }))
        << xResourcesOf(getpid(), "DamageExt")
        << " damage notices stay selected after the last stream stopped";
}

TEST_F(CaptureDesktopTest, ContentNamesAnotherProgramsWindowAndScreenshotsTakeItAlone) {
    ForeignWindow solid(other(kSolid, {300, 150, 640, 360}, true, "capture-managed"));
    X11CaptureService service(loop, *session);
    std::optional<CaptureWindow> found;
    ASSERT_TRUE(waitUntil([&] {
        if (auto c = content(service))
            for (const auto& w : c->windows)
                if (w.title == "capture-managed" && w.isOnScreen) found = w;
        return found.has_value();
    })) << "the managed window never appeared in the shareable content";
    ASSERT_TRUE(found->owningApplication);
    EXPECT_EQ(found->owningApplication->processID, solid.pid());
    EXPECT_EQ(found->owningApplication->appId, "CaptureTest");
    EXPECT_GE(found->frame.width(), 640);

    // Cover half of it with our window: a picture of the window alone does not show ours.
    OwnWindow overlay(kOverlay,
                      {static_cast<int>(found->frame.x()), static_cast<int>(found->frame.y()), 300, 300});
    overlay.show();
    screenshotWhen(
        [&](const QImage& shot) { return closeTo(shot.pixelColor(overlay.geometry().center()), kOverlay); });
    std::optional<CaptureFrame> picture;
    bool done = false;
    service.captureImage(ContentFilter::desktopIndependentWindow(*found), {{}, 0, 0, 0, 1},
                         [&](auto image, auto) {
                             picture = std::move(image);
                             done = true;
                         });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    ASSERT_TRUE(picture);
    // The window's own pixels (inside its decorations) are the solid colour; ours are nowhere.
    EXPECT_EQ(pixelsNear(*picture, kOverlay, 8), 0);
    EXPECT_GE(pixelsNear(*picture, kSolid), 640 * 360);
}

TEST_F(CaptureDesktopTest, DesktopPictureIsTheRootPictureScaledDown) {
    X11CaptureService service(loop, *session);
    X11WallpaperSource source(loop, service, *session);
    std::optional<CaptureFrame> picture;
    bool done = false;
    source.captureWallpaperImage(920, false, [&](auto image) {
        picture = std::move(image);
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    ASSERT_TRUE(picture) << "no desktop picture found";
    const QSize root = screenshot().size();
    EXPECT_EQ(std::max(picture->width, picture->height),
              std::min(920, std::max(root.width(), root.height())));
    EXPECT_EQ(pixelsNear(*picture, kDesktop, 3), picture->width * picture->height);
}

// Another desktop picture named on the root the way wallpaper setters do (in both properties): a small tile,
// or with `whole` a picture of the root's size. The desktop's own is named again when this goes.
class OtherWallpaper {
public:
    OtherWallpaper(QColor colour, bool whole) : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_)) return;
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        root_ = screen->root;
        for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
            auto* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::strlen(name), name), nullptr);
            if (!atom) return;
            auto* value = xcb_get_property_reply(
                c_, xcb_get_property(c_, 0, root_, atom->atom, XCB_ATOM_PIXMAP, 0, 1), nullptr);
            xcb_pixmap_t before = XCB_NONE;
            if (value && xcb_get_property_value_length(value) == 4)
                std::memcpy(&before, xcb_get_property_value(value), 4);
            std::free(value);
            names_.push_back({atom->atom, before});
            std::free(atom);
        }
        tile_ = xcb_generate_id(c_);
        const std::uint16_t w = whole ? screen->width_in_pixels : 16,
                            h = whole ? screen->height_in_pixels : 16;
        xcb_create_pixmap(c_, screen->root_depth, tile_, root_, w, h);
        const std::uint32_t pixel = colour.rgb() & 0xffffff;
        const xcb_gcontext_t gc = xcb_generate_id(c_);
        xcb_create_gc(c_, gc, tile_, XCB_GC_FOREGROUND, &pixel);
        const xcb_rectangle_t all{0, 0, w, h};
        xcb_poly_fill_rectangle(c_, tile_, gc, 1, &all);
        xcb_free_gc(c_, gc);
        name(true);
    }
    ~OtherWallpaper() {
        name(false);
        xcb_disconnect(c_);
    }

private:
    void name(bool ours) {
        for (const auto& [atom, before] : names_)
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, atom, XCB_ATOM_PIXMAP, 32, 1,
                                ours ? &tile_ : &before);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));  // done before we go on
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    xcb_pixmap_t tile_ = XCB_NONE;
    std::vector<std::pair<xcb_atom_t, xcb_pixmap_t>> names_;
};

TEST_F(CaptureDesktopTest, ANewDesktopPictureIsToldOfAndTakenFromItsTileOrItsPart) {
    X11CaptureService service(loop, *session);
    X11WallpaperSource source(loop, service, *session);
    int told = 0;
    const auto watch = source.wallpaperChanged().sink([&](int) { ++told; });
    const auto take = [&] {
        std::optional<CaptureFrame> picture;
        bool done = false;
        source.captureWallpaperImage(920, false, [&](auto image) {
            picture = std::move(image);
            done = true;
        });
        waitUntil([&] { return done; });
        return picture;
    };
    for (const bool whole : {false, true}) {
        {
            told = 0;
            OtherWallpaper other(kMiddle, whole);
            ASSERT_TRUE(waitUntil([&] { return told >= 2; }))
                << "told of " << told << " of the two new names";
            const auto picture = take();
            ASSERT_TRUE(picture);
            EXPECT_EQ(pixelsNear(*picture, kMiddle), picture->width * picture->height) << "whole: " << whole;
            told = 0;
        }
        ASSERT_TRUE(waitUntil([&] { return told >= 2; }))
            << "the desktop's own picture named again was not told";
        const auto again = take();
        ASSERT_TRUE(again);
        EXPECT_EQ(pixelsNear(*again, kDesktop, 3), again->width * again->height);
    }
}

// A monitor made for the test and removed again, so a stream can lose its display.
class VirtualMonitor {
public:
    explicit VirtualMonitor(QRect place) {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_)) return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        const char name[] = "VELARO-CAPTURE-TEST";
        auto* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr);
        if (!atom) return;
        name_ = atom->atom;
        std::free(atom);
        // The monitor travels as raw bytes: the library's own encoder of this request miscounts its length.
        struct {
            xcb_window_t window;
            xcb_randr_monitor_info_t info;
        } body{};
        static_assert(sizeof body == 28);
        body.window = root_;
        body.info.name = name_;
        body.info.x = static_cast<std::int16_t>(place.x());
        body.info.y = static_cast<std::int16_t>(place.y());
        body.info.width = static_cast<std::uint16_t>(place.width());
        body.info.height = static_cast<std::uint16_t>(place.height());
        body.info.width_in_millimeters = 300;
        body.info.height_in_millimeters = 200;
        std::uint32_t header = 0;  // major opcode, minor opcode and length are filled in by xcb
        iovec parts[4] = {{}, {}, {&header, sizeof header}, {&body, sizeof body}};
        static const xcb_protocol_request_t request = {2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        const xcb_void_cookie_t cookie{xcb_send_request(c_, XCB_REQUEST_CHECKED, parts + 2, &request)};
        auto* err = xcb_request_check(c_, cookie);
        made_ = err == nullptr;
        std::free(err);
    }
    ~VirtualMonitor() {
        remove();
        if (c_) xcb_disconnect(c_);
    }
    bool made() const { return made_; }
    std::uint32_t id() const { return name_; }
    void remove() {
        if (!made_) return;
        std::free(xcb_request_check(c_, xcb_randr_delete_monitor_checked(c_, root_, name_)));
        made_ = false;
    }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t name_ = 0;
    bool made_ = false;
};

TEST_F(CaptureDesktopTest, StreamWhoseMonitorGoesAwayStopsWithAnError) {
    VirtualMonitor monitor({0, 300, 640, 400});
    if (!monitor.made()) GTEST_SKIP() << "the X server does not let clients define monitors";
    X11CaptureService service(loop, *session);
    std::optional<CaptureDisplay> display;
    ASSERT_TRUE(waitUntil([&] {
        if (auto c = content(service))
            for (const auto& d : c->displays)
                if (d.displayID == monitor.id()) display = d;
        return display.has_value();
    })) << "the new monitor is not among the displays";

    FrameLog log;
    std::optional<CaptureError> stopError;
    CaptureStream* stoppedStream = nullptr;
    auto stream = service.makeStream(ContentFilter::displayExcludingWindows(*display, {}),
                                     {{0, 0, 640, 6}, 640, 6, 1.0 / 30, 4},
                                     [&](CaptureStream& s, const CaptureError& e) {
                                         stoppedStream = &s;
                                         stopError = e;
                                     });
    ASSERT_FALSE(stream->addStreamOutput([&](const CaptureFrame& f) { log.add(f); }, frameQueue));
    ASSERT_FALSE(await([&](auto done) { stream->startCapture(done); }));
    ASSERT_TRUE(waitUntil([&] { return log.count() > 0; }));

    monitor.remove();
    ASSERT_TRUE(waitUntil([&] { return stopError.has_value(); }))
        << "the stream kept running without its display";
    EXPECT_EQ(stopError->code, CaptureErrorCode::displayUnavailable);
    EXPECT_EQ(stoppedStream, stream.get());
    // It is idle now: a stop is refused as for any stream that does not run, and a new start fails cleanly.
    EXPECT_EQ(await([&](auto done) { stream->stopCapture(done); })->code, CaptureErrorCode::notStarted);
    EXPECT_EQ(await([&](auto done) { stream->startCapture(done); })->code,
              CaptureErrorCode::displayUnavailable);
}

TEST_F(CaptureDesktopTest, StripOutsideItsDisplayIsRefusedAtStart) {
    X11CaptureService service(loop, *session);
    const auto desktop = content(service);
    ASSERT_TRUE(desktop && !desktop->displays.empty());
    const CaptureDisplay display = desktop->displays.front();
    auto stream = service.makeStream(ContentFilter::displayExcludingWindows(display, {}),
                                     {{display.width() + 10, 0, 100, 6}, 100, 6, 1.0 / 15, 4}, {});
    ASSERT_FALSE(stream->addStreamOutput([](const CaptureFrame&) {}, frameQueue));
    const auto error = await([&](auto done) { stream->startCapture(done); });
    ASSERT_TRUE(error) << "a stream that could never deliver a frame started";
    EXPECT_EQ(error->code, CaptureErrorCode::invalidParameter);
}

TEST_F(CaptureDesktopTest, StreamWhoseServerGoesAwayStopsWithAnError) {
    // A display server of our own, which the test may end.
    QProcess server;
    server.start(
        QStringLiteral("Xvfb"),
        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
         QStringLiteral("640x480x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!server.waitForStarted()) GTEST_SKIP() << "Xvfb is not installed";
    QByteArray number;
    ASSERT_TRUE(waitUntil([&] {
        number += server.readAllStandardOutput();
        return number.contains('\n');
    })) << "Xvfb never told its display number";
    TestSession own(":" + number.trimmed().toStdString());
    ASSERT_TRUE(own);
    X11CaptureService service(loop, *own);
    const auto desktop = content(service);
    ASSERT_TRUE(desktop && !desktop->displays.empty());
    FrameLog log;
    std::optional<CaptureError> stopError;
    auto stream = service.makeStream(ContentFilter::displayExcludingWindows(desktop->displays.front(), {}),
                                     {{0, 0, 640, 6}, 640, 6, 1.0 / 30, 4},
                                     [&](CaptureStream&, const CaptureError& e) { stopError = e; });
    ASSERT_FALSE(stream->addStreamOutput([&](const CaptureFrame& f) { log.add(f); }, frameQueue));
    ASSERT_FALSE(await([&](auto done) { stream->startCapture(done); }));
    ASSERT_TRUE(waitUntil([&] { return log.count() > 0; }));

    server.kill();
    server.waitForFinished();
    ASSERT_TRUE(waitUntil([&] { return stopError.has_value(); }))
        << "the stream kept running without its server";
    EXPECT_EQ(stopError->code, CaptureErrorCode::connectionLost);
    // The service's own connection is gone too: content now fails cleanly instead of hanging or crashing.
    std::optional<CaptureError> contentError;
    bool done = false;
    service.getShareableContent(false, true, [&](auto, auto error) {
        contentError = error;
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    ASSERT_TRUE(contentError);
    EXPECT_EQ(contentError->code, CaptureErrorCode::unavailable);
}

TEST_F(CaptureDesktopTest, RefusedConfigurationsNeverStart) {
    X11CaptureService service(loop, *session);
    auto stream =
        service.makeStream(ContentFilter::displayExcludingWindows({}, {}), {{0, 0, 10, 6}, 0, 6, 0.1, 4}, {});
    auto startError = await([&](auto done) { stream->startCapture(done); });
    ASSERT_TRUE(startError);
    EXPECT_EQ(startError->code, CaptureErrorCode::invalidParameter);

    // A stream of a window is not something a stream does; screenshots take windows.
    CaptureWindow window;
    window.windowID = 3;
    auto windowStream = service.makeStream(ContentFilter::desktopIndependentWindow(window),
                                           {{0, 0, 10, 6}, 10, 6, 0.1, 4}, {});
    startError = await([&](auto done) { windowStream->startCapture(done); });
    ASSERT_TRUE(startError);
    EXPECT_EQ(startError->code, CaptureErrorCode::invalidParameter);
    const auto stopError = await([&](auto done) { windowStream->stopCapture(done); });
    ASSERT_TRUE(stopError);
    EXPECT_EQ(stopError->code, CaptureErrorCode::notStarted);
}

TEST_F(CaptureDesktopTest, AStopRightAfterTheStartTellsTheStartFirstAndNoFrameFollows) {
    X11CaptureService service(loop, *session);
    const auto desktop = content(service);
    ASSERT_TRUE(desktop && !desktop->displays.empty());
    FrameLog log;
    auto stream = service.makeStream(ContentFilter::displayExcludingWindows(desktop->displays.front(), {}),
                                     {{0, 40, 200, 6}, 200, 6, 1.0 / 60, 4}, {});
    ASSERT_FALSE(stream->addStreamOutput([&](const CaptureFrame& f) { log.add(f); }, frameQueue));
    // Started and stopped on one turn of the main loop, over and over: nothing waits for the worker.
    std::vector<std::string> told;
    for (int i = 0; i < 20; ++i) {
        stream->startCapture([&](auto error) { told.push_back(error ? "start failed" : "started"); });
        stream->stopCapture([&](auto error) { told.push_back(error ? "stop failed" : "stopped"); });
    }
    ASSERT_TRUE(waitUntil([&] { return told.size() == 40; }));
    for (std::size_t i = 0; i < told.size(); i += 2) {
        EXPECT_EQ(told[i], "started");
        EXPECT_EQ(told[i + 1], "stopped");
    }
    const std::size_t atStop = log.count();
    waitUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(log.count(), atStop) << "frames arrived after the stop completed";
}

TEST_F(CaptureDesktopTest, EndingCaptureWaitsForTheFrameAnOutputIsTaking) {
    // As the app quits, the streams outlive the service while their output still reads services (the
    // pointer) that go right after it: the service's end must wait for a frame already in the output.
    auto service = std::make_unique<X11CaptureService>(loop, *session);
    const auto desktop = content(*service);
    ASSERT_TRUE(desktop && !desktop->displays.empty());
    auto* readByTheOutput = new std::atomic<int>(0);  // freed once the service has gone
    std::atomic<bool> inOutput{false}, serviceGone{false}, outputSawItGo{false};
    auto stream = service->makeStream(ContentFilter::displayExcludingWindows(desktop->displays.front(), {}),
                                      {{0, 40, 200, 6}, 200, 6, 1.0 / 60, 4}, {});
    ASSERT_FALSE(stream->addStreamOutput(
        [&, readByTheOutput](const CaptureFrame&) {
            inOutput = true;
            // A slow frame: it stays in the output until the service is gone, or for a while.
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
            while (!serviceGone && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (serviceGone) outputSawItGo = true;
            readByTheOutput->fetch_add(1);
        },
        frameQueue));
    ASSERT_FALSE(await([&](auto done) { stream->startCapture(done); }));
    ASSERT_TRUE(waitUntil([&] { return inOutput.load(); }));
    service.reset();
    serviceGone = true;
    delete readByTheOutput;
    // Frames still queued never reach the output once the service is gone.
    inOutput = false;
    waitUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(outputSawItGo) << "the service ended while a frame was still in the output";
    EXPECT_FALSE(inOutput) << "a frame reached the output after the service ended";
}

// The System V shared-memory segments this process has attached, as MIT-SHM grabs attach theirs.
int attachedSegments() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly)) return -1;
    return int(maps.readAll().count("SYSV"));
}

TEST_F(CaptureDesktopTest, TheServicesEndLetsGoOfItsGrabsSoAStreamLetGoAfterTheSessionTouchesNothing) {
    // As the app ends, a completion still queued on the main loop may hold a stream; the loop goes last, after
    // the service and the session whose connection the stream's grabs went over. What the grabs attached
    // goes with the service, over its connection while that is still there.
    TestSession own;
    ASSERT_TRUE(own);
    const int before = attachedSegments();
    auto service = std::make_unique<X11CaptureService>(loop, *own);
    const auto desktop = content(*service);
    ASSERT_TRUE(desktop && !desktop->displays.empty());
    FrameLog log;
    auto stream = service->makeStream(ContentFilter::displayExcludingWindows(desktop->displays.front(), {}),
                                      {{0, 40, 200, 6}, 200, 6, 1.0 / 60, 4}, {});
    ASSERT_FALSE(stream->addStreamOutput([&](const CaptureFrame& f) { log.add(f); }, frameQueue));
    ASSERT_FALSE(await([&](auto done) { stream->startCapture(done); }));
    ASSERT_TRUE(waitUntil([&] { return log.count() > 0; }));
    ASSERT_GT(attachedSegments(), before) << "the grabs went without shared memory";
    service.reset();
    EXPECT_EQ(attachedSegments(), before) << "the grabs' segment outlived the service";
    own.session.reset();
    const std::size_t atEnd = log.count();
    stream.reset();
    EXPECT_EQ(log.count(), atEnd);
}

// The fake stands in for the real service in every model test, so both must answer the idle-stream calls the
// same way: the sampler stops, updates and restarts streams in every state.
template <typename Service>
struct CaptureStreamContract : CaptureDesktopTest {
    std::unique_ptr<CaptureService> make() {
        if constexpr (std::is_same_v<Service, X11CaptureService>)
            return std::make_unique<X11CaptureService>(loop, *session);
        else
            return std::make_unique<test::FakeCaptureService>(loop);
    }
};
using Services = ::testing::Types<X11CaptureService, test::FakeCaptureService>;
TYPED_TEST_SUITE(CaptureStreamContract, Services);

TYPED_TEST(CaptureStreamContract, IdleStreamsRefuseStopsAndTakeFiltersAtOnce) {
    auto service = this->make();
    const CaptureDisplay display{1, {0, 0, 100, 100}};
    auto stream = service->makeStream(ContentFilter::displayExcludingWindows(display, {}),
                                      {{0, 24, 100, 6}, 100, 6, 1.0 / 15, 4}, {});
    EXPECT_FALSE(stream->addStreamOutput([](const CaptureFrame&) {}, this->frameQueue));
    EXPECT_TRUE(stream->addStreamOutput({}, nullptr)) << "an output without handler or queue is refused";

    std::optional<CaptureError> stopError;
    bool stopped = false;
    stream->stopCapture([&](auto error) {
        stopped = true;
        stopError = error;
    });
    bool updated = false;
    std::optional<CaptureError> updateError;
    const auto next = ContentFilter::displayExcludingApplications(display, {{42, "org.example.Editor", ""}});
    stream->updateContentFilter(next, [&](auto error) {
        updated = true;
        updateError = error;
    });
    EXPECT_FALSE(stopped) << "completions come on a later turn of the main loop";
    ASSERT_TRUE(waitUntil([&] { return stopped && updated; }));
    ASSERT_TRUE(stopError);
    EXPECT_EQ(stopError->code, CaptureErrorCode::notStarted);
    EXPECT_FALSE(updateError);
    EXPECT_TRUE(stream->contentFilter().excludes(42, 1, false));
    EXPECT_EQ(stream->configuration().height, 6);
}

}  // namespace
}  // namespace velaro::e2e
