// Capture of the default output's mix through the sound server's monitor source (PulseAudio, or PipeWire's
// pulse server), on libpulse's threaded main loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/Lifetime.h"
#include "platform/AudioCapture.h"

namespace velaro {

class MainLoop;

class PulseAudioCapture final : public AudioCapture {
public:
    // Samples are asked as 32-bit float stereo at 48 kHz, in fragments of this many frames: two of the
    // analysis' hops, about 43 ms (the server's default would be about two seconds). The server keeps the
    // output's buffer no longer than a fragment and wakes once a fragment to fill it and hand it on: at
    // 20 ms fragments, with a player that keeps more buffered, the capture made it work twice as often. The
    // analysis spreads a fragment's hops over its ticks, so the bands still change at every tick; and
    // what the monitor hands on is what the output has just been given to play, about a buffer early.
    static constexpr std::uint32_t fragmentFrames = 2048;
    // How long open waits for the stream to become ready.
    static constexpr double openTimeout = 2.0;
    // After the server goes away, reconnects are tried after these delays, doubling in between. The
    // server's socket is watched meanwhile, and its return tried at once: the long waits only save the
    // tries nobody needs. Where the socket cannot be watched (a server over the network, a folder that
    // went), the waits stop growing at a second.
    static constexpr double firstRetryDelay = 0.5;
    static constexpr double longestRetryDelay = 10.0;
    static constexpr double longestUnwatchedRetryDelay = 1.0;

    // The file of the local socket a server address names (as libpulse writes it: "/path",
    // "unix:/path", either after a "{machine id}"); empty for any other address.
    static std::string localSocketOf(std::string_view server);

    // `loop` receives the output-change calls.
    explicit PulseAudioCapture(MainLoop& loop);
    ~PulseAudioCapture() override;
    PulseAudioCapture(const PulseAudioCapture&) = delete;
    PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

    OpenResult open() override;
    void startDelivery(BlockHandler handler) override;
    void close() override;
    void setOnOutputChanged(std::function<void()> handler) override;
    void setOnOutputPlaying(std::function<void(bool)> handler) override;

private:
    struct Session;
    MainLoop& loop_;
    std::function<void()> onOutputChanged_;
    Lifetime lifetime_;
    std::unique_ptr<Session> session_;
};

}  // namespace velaro
