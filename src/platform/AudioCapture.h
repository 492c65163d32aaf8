// Capture of what the computer plays (the default output's mix), handed out in blocks of float samples.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace velaro {

// The sample layout the capture delivers: 32-bit float samples, one buffer of interleaved frames or one
// buffer per channel.
struct AudioFormat {
    double sampleRate = 0;
    int channelCount = 0;
    bool interleaved = true;
};

// One delivery: up to two buffers (interleaved frames in the first, or channel 0 and channel 1). A buffer
// without data is a gap in the stream; byte sizes need not be whole samples.
struct AudioBlock {
    struct Buffer {
        const float* data = nullptr;
        std::size_t byteSize = 0;
    };
    static constexpr int maxBuffers = 2;
    int bufferCount = 0;
    Buffer buffers[maxBuffers];
};

class AudioCapture {
public:
    // Why capture could not be set up: the step that failed ("tap-create" reaching the sound server,
    // "aggregate-create" making the stream, "device-start" the stream not becoming ready) and the server's
    // error code.
    struct Failure {
        std::string step;
        int status = 0;
    };
    struct OpenResult {
        bool ok = false;
        AudioFormat format;  // when ok
        Failure failure;     // when not
    };
    // A delivered block never holds more frames than this.
    static constexpr std::size_t maxBlockFrames = 8192;
    // Called on the capture's own thread, one block at a time; must not block.
    using BlockHandler = std::function<void(const AudioBlock&)>;

    virtual ~AudioCapture() = default;

    // Connects to the default output's mix and waits (a bounded time) until samples can flow; delivers
    // nothing yet. Main thread. A later loss of the sound server is the capture's own business: it
    // reconnects by itself, and delivery pauses meanwhile. So is a missing output: with none (a headset
    // unplugged, the last device gone) open succeeds and delivery waits, and capture starts by itself on
    // the next default output.
    virtual OpenResult open() = 0;
    // Starts handing blocks to `handler`. Main thread, after a successful open.
    virtual void startDelivery(BlockHandler handler) = 0;
    // Ends capture. Once it returns the handler is never called again. Main thread; harmless when closed.
    virtual void close() = 0;
    // Called on the main thread when the desktop's default output becomes another device; an empty
    // function stops the calls.
    virtual void setOnOutputChanged(std::function<void()> handler) = 0;
    // Called on the capture's own thread, before the blocks it concerns, when the default output starts or
    // stops playing anything (no output at all plays nothing); must not block. A capture that cannot tell
    // never calls it. An empty function stops the calls.
    virtual void setOnOutputPlaying(std::function<void(bool playing)> handler) = 0;
};

}  // namespace velaro
