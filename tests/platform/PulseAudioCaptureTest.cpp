// Which server addresses name a local socket whose return the capture can watch for.
#include <gtest/gtest.h>

#include "platform/linux/PulseAudioCapture.h"

namespace velaro::test {
namespace {

TEST(PulseAudioCapture, TheLocalSocketOfAServerAddress) {
    struct Case {
        const char* server;
        const char* socket;
    };
    for (const Case& c : {
             Case{"/run/user/1000/pulse/native", "/run/user/1000/pulse/native"},
             Case{"unix:/tmp/desk/runtime/pulse/native", "/tmp/desk/runtime/pulse/native"},
             Case{"{0123abcd}unix:/run/pulse/native", "/run/pulse/native"},
             Case{"{0123abcd}/run/pulse/native", "/run/pulse/native"},
             Case{"/native", "/native"},
             // Servers over the network, and addresses that name no absolute path.
             Case{"tcp:127.0.0.1:4713", ""},
             Case{"tcp6:[::1]", ""},
             Case{"localhost", ""},
             Case{"unix:pulse/native", ""},
             Case{"{0123abcd unix:/run/pulse/native", ""},
             Case{"", ""},
         }) {
        EXPECT_EQ(PulseAudioCapture::localSocketOf(c.server), c.socket) << c.server;
    }
}

}  // namespace
}  // namespace velaro::test
