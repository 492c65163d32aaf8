// Root without the power to give files away, on the calling thread for as long as it lives: as in a container
// that drops CAP_CHOWN, where every chown to another user fails as it does on a file system that cannot keep
// that owner.
#pragma once

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace velaro::test {

class WithoutChown {
public:
    WithoutChown() {
        EXPECT_EQ(::syscall(SYS_capget, &header_, saved_), 0);
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~(1u << CAP_CHOWN);
        EXPECT_EQ(::syscall(SYS_capset, &header_, lowered), 0);
    }
    ~WithoutChown() { EXPECT_EQ(::syscall(SYS_capset, &header_, saved_), 0); }
    WithoutChown(const WithoutChown&) = delete;
    WithoutChown& operator=(const WithoutChown&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
};

}  // namespace velaro::test
