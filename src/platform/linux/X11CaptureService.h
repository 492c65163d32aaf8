// Screen capture on an X11 desktop: one worker thread, on the session's capture connection, grabs every
// stream's strip at its rate with MIT-SHM (GetImage where the server lacks it), applies the content filter
// and delivers frames scaled to the configured size; shareable content and screenshots run there too. While
// the server's damage notices show nothing under a strip changed, its last frame goes out again instead.
#pragma once

#include <functional>
#include <memory>

#include "base/MainLoop.h"
#include "platform/CaptureService.h"
#include "platform/linux/X11CaptureSession.h"

namespace velaro {

class X11Session;

class X11CaptureService final : public CaptureService {
public:
    // `loop` runs every completion; it and the session must outlive the service. Streams may outlive it,
    // and the session too: they then fail to start.
    X11CaptureService(MainLoop& loop, X11Session& session, x11capture::CaptureOptions options = {});
    // Ends the worker (after the grab in progress) and lets go of what the grabs hold on the server.
    ~X11CaptureService() override;

    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentHandler handler) override;
    std::shared_ptr<CaptureStream> makeStream(ContentFilter filter, StreamConfiguration configuration,
                                              StreamStoppedHandler onStopped) override;
    void captureImage(ContentFilter filter, StreamConfiguration configuration, ImageHandler handler) override;

    // Runs `job` on the capture worker with its reader of the screen, or with null and the reason when the
    // screen cannot be read. For the other readers of the capture connection (the wallpaper).
    using Job = std::function<void(x11capture::Session* session, const CaptureError& error)>;
    void onWorker(Job job);

    // Why a configuration cannot be captured, or nothing when it can.
    static std::optional<CaptureError> validate(const StreamConfiguration& configuration);

    class Worker;

private:
    MainLoop& loop_;
    std::shared_ptr<Worker> worker_;
};

}  // namespace velaro
