// Environment variables set for one test, and put back after it.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace velaro::test {

// Sets an environment variable, or unsets it (nothing), for as long as it lives.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::optional<QString>& value)
        : name(name), saved(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        value ? qputenv(name, value->toLocal8Bit()) : qunsetenv(name);
    }
    ~ScopedEnv() { saved ? qputenv(name, *saved) : qunsetenv(name); }
    ScopedEnv(const ScopedEnv&) = delete;
    const char* name;
    std::optional<QByteArray> saved;
};

}  // namespace velaro::test
