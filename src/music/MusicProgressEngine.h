// The now-playing engine: one per process, started and stopped by the shell as the music features demand.
// Until the media adapter is wired in, starting it only records that it runs.
#pragma once

namespace velaro {

class MusicProgressEngine {
public:
    // The process-wide engine, created on first use.
    static MusicProgressEngine& shared();

    MusicProgressEngine(const MusicProgressEngine&) = delete;
    MusicProgressEngine& operator=(const MusicProgressEngine&) = delete;

    // Resets the engine's state and starts following the player.
    void start();
    void stop();
    bool isRunning() const { return running_; }

protected:
    MusicProgressEngine() = default;

private:
    bool running_ = false;
};

}  // namespace velaro
