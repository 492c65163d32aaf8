// The application's id: its session-bus name, its desktop entry, and the app id its own windows and
// captures are known by. One spelling, so that these never drift apart.
#pragma once

// The literal itself, for the few places that need one (Qt's class-info macro); code reads `velaroAppId`.
#define VELARO_APP_ID "com.quornet.Velaro"

namespace velaro {

inline constexpr const char* velaroAppId = VELARO_APP_ID;

}  // namespace velaro
