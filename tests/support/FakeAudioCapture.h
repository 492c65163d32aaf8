// An audio capture for tests: open succeeds with the format the test sets (or fails at the step it sets),
// and the test delivers blocks and announces output changes itself. What the engine did to it is kept in a
// record that outlives the capture (the engine owns its capture).
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "platform/AudioCapture.h"

namespace velaro::test {

class FakeAudioCapture final : public AudioCapture {
public:
    struct Record {
        int opens = 0;
        int closes = 0;
        int alive = 0;  // captures of this record not yet destroyed
    };

    explicit FakeAudioCapture(std::shared_ptr<Record> record = std::make_shared<Record>())
        : record_(std::move(record)) {
        ++record_->alive;
    }
    ~FakeAudioCapture() override { --record_->alive; }

    OpenResult open() override {
        ++record_->opens;
        if (failure) return {false, {}, *failure};
        open_ = true;
        return {true, format, {}};
    }
    void startDelivery(BlockHandler handler) override { handler_ = std::move(handler); }
    void close() override {
        if (!open_) return;
        ++record_->closes;
        open_ = false;
        handler_ = nullptr;
    }
    void setOnOutputChanged(std::function<void()> handler) override { onOutputChanged_ = std::move(handler); }
    void setOnOutputPlaying(std::function<void(bool)> handler) override {
        onOutputPlaying_ = std::move(handler);
    }

    // What the next opens answer.
    AudioFormat format{48000, 2, true};
    std::optional<Failure> failure;

    const Record& record() const { return *record_; }
    bool isOpen() const { return open_; }
    bool delivering() const { return static_cast<bool>(handler_); }
    bool listening() const { return static_cast<bool>(onOutputChanged_); }
    // The capture's thread handing over a block (dropped while not delivering).
    void deliver(const AudioBlock& block) {
        if (handler_) handler_(block);
    }
    // The desktop switching its default output.
    void changeOutput() {
        if (onOutputChanged_) onOutputChanged_();
    }
    // The default output starting or stopping to play, as the capture's thread reports it.
    void setOutputPlaying(bool playing) {
        if (onOutputPlaying_) onOutputPlaying_(playing);
    }

private:
    std::shared_ptr<Record> record_;
    bool open_ = false;
    BlockHandler handler_;
    std::function<void()> onOutputChanged_;
    std::function<void(bool)> onOutputPlaying_;
};

}  // namespace velaro::test
