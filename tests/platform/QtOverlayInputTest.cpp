// Qt's mouse and wheel events as the overlay windows see them: presses, drags and releases, and touchpad
// swipes cut into gestures by their gaps where the platform gives no phases.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPointingDevice>
#include <QWheelEvent>

#include "platform/linux/QtOverlayInput.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

struct Gestures : ::testing::Test {
    // Devices live no longer than the application (their destructors need it).
    QPointingDevice touchpad{QStringLiteral("touchpad"),
                             901,
                             QInputDevice::DeviceType::TouchPad,
                             QPointingDevice::PointerType::Finger,
                             QInputDevice::Capability::Scroll,
                             2,
                             0};
    QPointingDevice mouse{QStringLiteral("mouse"),
                          902,
                          QInputDevice::DeviceType::Mouse,
                          QPointingDevice::PointerType::Generic,
                          QInputDevice::Capability::Scroll,
                          1,
                          3};
    QPointingDevice unknown{QStringLiteral("unknown"),
                            903,
                            QInputDevice::DeviceType::Unknown,
                            QPointingDevice::PointerType::Unknown,
                            QInputDevice::Capability::None,
                            1,
                            0};

    QWheelEvent wheel(QPoint angle, QInputDevice::DeviceType type = QInputDevice::DeviceType::TouchPad,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                      Qt::ScrollPhase phase = Qt::NoScrollPhase, bool inverted = false) {
        const QPointingDevice* device = type == QInputDevice::DeviceType::TouchPad ? &touchpad
                                        : type == QInputDevice::DeviceType::Mouse  ? &mouse
                                                                                   : &unknown;
        return QWheelEvent(QPointF(10, 4), QPointF(10, 4), QPoint(), angle, Qt::NoButton, modifiers, phase,
                           inverted, Qt::MouseEventNotSynthesized, device);
    }

    test::VirtualLoop loop;
    std::vector<OverlayMouseEvent> events;
    WheelGestures gestures{loop, true, [this](const OverlayMouseEvent& e) { events.push_back(e); }};

    std::vector<ScrollPhase> phases() const {
        std::vector<ScrollPhase> out;
        for (const auto& e : events) out.push_back(e.phase);
        return out;
    }
};

TEST_F(Gestures, TouchpadRunsWithShortGapsAreOneGesture) {
    using P = ScrollPhase;
    gestures.wheel(wheel({-80, 0}));
    loop.advance(0.1);
    gestures.wheel(wheel({-160, 0}));
    loop.advance(0.14);
    gestures.wheel(
        wheel({-8, 0}, QInputDevice::DeviceType::TouchPad, Qt::NoModifier, Qt::NoScrollPhase, true));
    EXPECT_EQ(phases(), (std::vector<P>{P::began, P::changed, P::changed, P::changed}));
    loop.advance(0.16);
    EXPECT_EQ(phases().back(), P::ended) << "the gap ends it";
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[1].deltaX, -10) << "an eighth of the angle";
    EXPECT_EQ(events[2].deltaX, -20);
    EXPECT_TRUE(events[1].hasPreciseDeltas);
    EXPECT_TRUE(events[3].directionInvertedFromDevice);
    EXPECT_EQ(events[1].location, (Point{10, 4}));

    events.clear();
    gestures.wheel(wheel({0, 40}));
    EXPECT_EQ(phases(), (std::vector<P>{P::began, P::changed})) << "a new gesture after the gap";
    EXPECT_EQ(events[1].deltaY, 5);
}

TEST_F(Gestures, AltSwapsTheAxesBackAndOtherDevicesAreNoGestures) {
    struct Case {
        const char* what;
        QWheelEvent event;
        std::size_t count;  // events delivered
        double deltaX;
        bool precise;
    };
    const Case cases[] = {
        {"Alt: the platform reported the sideways swipe as vertical",
         wheel({0, -80}, QInputDevice::DeviceType::TouchPad, Qt::AltModifier), 2, -10, true},
        {"a mouse wheel: passed on, not precise", wheel({-120, 0}, QInputDevice::DeviceType::Mouse), 1, -15,
         false},
        {"no device known", wheel({-80, 0}, QInputDevice::DeviceType::Unknown), 0, 0, false},
        {"no delta", wheel({0, 0}), 0, 0, false},
        {"the platform's own phase",
         wheel({-80, 0}, QInputDevice::DeviceType::TouchPad, Qt::NoModifier, Qt::ScrollUpdate), 1, -10, true},
    };
    for (const Case& c : cases) {
        events.clear();
        loop.advance(1);
        events.clear();
        gestures.wheel(c.event);
        ASSERT_EQ(events.size(), c.count) << c.what;
        if (c.count == 0) continue;
        EXPECT_EQ(events.back().deltaX, c.deltaX) << c.what;
        EXPECT_EQ(events.back().hasPreciseDeltas, c.precise) << c.what;
    }
    EXPECT_EQ(events.back().phase, ScrollPhase::changed);
    events.clear();
    gestures.wheel(wheel({-80, 0}, QInputDevice::DeviceType::TouchPad, Qt::NoModifier, Qt::ScrollMomentum));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].momentumPhase, ScrollPhase::changed) << "coasting is told apart";
}

TEST_F(Gestures, AWindowThatGoesDuringADeliveryEndsTheRun) {
    test::VirtualLoop loop2;
    std::unique_ptr<WheelGestures> owned;
    int delivered = 0;
    owned = std::make_unique<WheelGestures>(loop2, false, [&](const OverlayMouseEvent&) {
        ++delivered;
        owned.reset();  // the handler drops the window, and with it the gestures
    });
    owned->wheel(wheel({-80, 0}));
    EXPECT_EQ(delivered, 1) << "the began event, and nothing after it";
    loop2.advance(1);
    EXPECT_EQ(delivered, 1);
}

TEST(OverlayMouseEvents, PressesDragsAndReleasesInTheWindowsPoints) {
    const auto at = QPointF(300.5, 7);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::RightButton, Qt::RightButton,
                      Qt::ControlModifier);
    QMouseEvent drag(QEvent::MouseMove, at, at, Qt::NoButton, Qt::LeftButton,
                     Qt::AltModifier | Qt::MetaModifier);
    QMouseEvent hover(QEvent::MouseMove, at, at, Qt::NoButton, Qt::NoButton, Qt::AltModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);

    const auto down = overlayMouseEvent(press, 1);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->kind, OverlayMouseEvent::Kind::down);
    EXPECT_EQ(down->button, OverlayMouseEvent::Button::right);
    EXPECT_EQ(down->modifiers, ModifierFlag::control);
    EXPECT_EQ(down->location, (Point{300.5, 7}));

    const auto dragged = overlayMouseEvent(drag, 1);
    ASSERT_TRUE(dragged);
    EXPECT_EQ(dragged->kind, OverlayMouseEvent::Kind::dragged);
    EXPECT_EQ(dragged->modifiers, ModifierFlag::option | ModifierFlag::command);
    EXPECT_FALSE(overlayMouseEvent(hover, 1)) << "hovering is not dragging";

    const auto up = overlayMouseEvent(release, 2);
    ASSERT_TRUE(up);
    EXPECT_EQ(up->kind, OverlayMouseEvent::Kind::up);
    EXPECT_EQ(up->clickCount, 2);
    EXPECT_EQ(up->modifiers, ModifierFlag::shift);
}

}  // namespace
}  // namespace velaro
