// The states the burst writer stores: each is fully determined by its counter, so a reader can tell a
// whole state from a mix of two.
#pragma once

#include <cstdint>
#include <string>

#include "platform/DefaultsStore.h"

namespace velaro::test {

// Text whose length and letters change with every counter, so consecutive files differ in size too.
inline std::string burstPayload(std::int64_t counter) {
    return std::string(static_cast<std::size_t>((counter * 7919) % 16384),
                       static_cast<char>('a' + counter % 26));
}

inline PlistValue burstBlob(std::int64_t counter) {
    Bytes bytes(static_cast<std::size_t>(counter % 300));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(counter + i);
    return plistData(std::move(bytes));
}

}  // namespace velaro::test
