// Screen capture on an X11 desktop: streams grab their strip on a worker thread with MIT-SHM (GetImage where
// the server lacks it), apply the content filter and deliver frames scaled to the configured size.
#pragma once

#include <memory>

#include "base/MainLoop.h"
#include "platform/CaptureService.h"
#include "platform/linux/X11CaptureSession.h"

namespace velaro {

class X11CaptureService final : public CaptureService {
public:
    // `loop` runs every completion and must outlive the service and its streams.
    X11CaptureService(MainLoop& loop, x11capture::SessionOptions options = {});
    ~X11CaptureService() override;

    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentHandler handler) override;
    std::shared_ptr<CaptureStream> makeStream(ContentFilter filter, StreamConfiguration configuration,
                                              StreamStoppedHandler onStopped) override;
    void captureImage(ContentFilter filter, StreamConfiguration configuration, ImageHandler handler) override;

    // Why a configuration cannot be captured, or nothing when it can.
    static std::optional<CaptureError> validate(const StreamConfiguration& configuration);

private:
    struct Shared;
    MainLoop& loop_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace velaro
