// The real services of a desktop session, built once at start-up: the X11, XDG and Qt realisations of the
// platform layer, the screen topology and the now-playing engine (one each, owned here and handed to the
// delegate), and the factory of the overlay controller. Platform choices are made here and nowhere else.
#pragma once

#include <memory>
#include <string>

#include "app/AppDelegate.h"

namespace velaro {

class AppServices {
public:
    // Needs the Qt application object on the xcb platform; null (with `error` set) without an X display.
    static std::unique_ptr<AppServices> create(std::string* error);
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    // What the delegate is built over; every reference stays valid for the life of this object.
    AppDelegateServices delegateServices();
    // Settings changed from now on wait (the launch migrates a new or older file as the settings load)...
    void holdSettingsWrites();
    // ...until the windows shown by then have their first picture: the write waits for the disk.
    void releaseSettingsWritesOnceShown();
    // The first step of the app's end, as the loop stops and before the delegate's objects go: the X
    // connections stop reading (X11Session::stopReading: the desktop's and the capture's), so that no end
    // after it waits for a server busy with other clients: not a queue finishing a block that waits for an
    // answer, not the capture worker's grab. Nothing is read from the server from then on. Main thread.
    void stopReading();

private:
    AppServices();
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace velaro
