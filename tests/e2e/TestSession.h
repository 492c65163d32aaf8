// The X11 session the end-to-end tests build their services from, made as the app's start-up makes it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "e2e/E2eSupport.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XdgAppCatalog.h"

namespace velaro::e2e {

struct TestSession {
    // On the test desktop with Qt's ratio unless the test names one. Without a desktop there is no session
    // (tests skip then).
    explicit TestSession(X11Session::PixelRatioReader ratio = X11Session::qtPixelRatio()) {
        if (haveDisplay()) session = X11Session::open({}, std::move(ratio), catalog);
    }
    // On another display, of the test's own making.
    explicit TestSession(const std::string& display) {
        session = X11Session::open(display, X11Session::qtPixelRatio(), catalog);
    }
    explicit operator bool() const { return session != nullptr; }
    X11Session& operator*() { return *session; }
    X11Session* operator->() { return session.get(); }

    XdgAppCatalog catalog;
    std::unique_ptr<X11Session> session;
};

}  // namespace velaro::e2e
