// The diagnostic lines written while it lives, as "TAG message"; the sink before it comes back after.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "base/Log.h"

namespace velaro::test {

class LogCapture {
public:
    LogCapture()
        : previous_(setLogSink([this](std::string_view tag, std::string_view message) {
              lines.push_back(std::string(tag) + " " + std::string(message));
          })) {}
    ~LogCapture() { setLogSink(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // How many lines contain `text`.
    long count(const std::string& text) const {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    std::vector<std::string> lines;

private:
    LogSink previous_;
};

}  // namespace velaro::test
