// Waiting for what the system delivers through Qt's event loop (the network, file notifications) in tests
// whose own time is virtual.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <chrono>
#include <functional>

namespace velaro::test {

// Lets Qt deliver its events until `done` holds; the deadline only stops a broken test.
inline bool spinUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(std::chrono::seconds(20));
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

}  // namespace velaro::test
