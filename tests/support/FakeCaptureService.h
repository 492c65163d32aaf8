// A capture service for tests: scripted content and frames, completions the test releases one by one (or at
// once), scripted failures, and a record of every stream's configuration and filters.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "base/MainLoop.h"
#include "platform/CaptureService.h"
#include "platform/WallpaperSource.h"

namespace velaro::test {

class FakeCaptureService;

class FakeCaptureStream final : public CaptureStream, public std::enable_shared_from_this<FakeCaptureStream> {
public:
    FakeCaptureStream(FakeCaptureService& service, ContentFilter filter, StreamConfiguration configuration,
                      StreamStoppedHandler onStopped);

    std::optional<CaptureError> addStreamOutput(FrameHandler output,
                                                std::shared_ptr<SerialQueue> queue) override;
    void startCapture(CaptureCompletion completion) override;
    void stopCapture(CaptureCompletion completion) override;
    void updateContentFilter(ContentFilter filter, CaptureCompletion completion) override;
    ContentFilter contentFilter() const override { return filter_; }
    StreamConfiguration configuration() const override { return configuration_; }
    // Counted while the stream runs; the test delivers what it wants in answer.
    void requestFrame() override {
        if (running_) ++frameRequests_;
    }

    // True from a successful start until a stop is asked for or the stream stops by itself.
    bool isRunning() const { return running_; }
    bool hasOutput() const { return static_cast<bool>(output_); }
    // Every filter the stream was given: the one it was made with, then each update in order.
    const std::vector<ContentFilter>& filters() const { return filters_; }
    int startCalls() const { return startCalls_; }
    int stopCalls() const { return stopCalls_; }
    // How often the output asked for a frame while the stream ran.
    int frameRequests() const { return frameRequests_; }
    const std::string& queueLabel() const;

    // Queues `frame` on the output's queue, as the real stream does; ignored unless the stream runs.
    bool deliver(const CaptureFrame& frame);
    // Hands `frame` to the output at once, on the caller's thread standing in for the output's queue; what
    // the output posts to the main loop stays queued there. Ignored unless the stream runs.
    bool deliverNow(const CaptureFrame& frame);
    // The stream stops by itself: it stops running and the stopped handler is told on the main loop.
    void stopWithError(CaptureError error);

private:
    friend class FakeCaptureService;
    FakeCaptureService& service_;
    ContentFilter filter_;
    StreamConfiguration configuration_;
    StreamStoppedHandler onStopped_;
    FrameHandler output_;
    std::shared_ptr<SerialQueue> queue_;
    std::vector<ContentFilter> filters_;
    bool running_ = false;
    bool starting_ = false;
    int startCalls_ = 0;
    int stopCalls_ = 0;
    std::atomic<int> frameRequests_{0};
    std::shared_ptr<bool> gate_ = std::make_shared<bool>(false);
};

class FakeCaptureService final : public CaptureService {
public:
    enum class Call { shareableContent, startCapture, stopCapture, updateContentFilter, captureImage };

    explicit FakeCaptureService(MainLoop& loop) : loop_(loop) {}

    // What getShareableContent answers; `contentError` set makes it fail instead.
    ShareableContent content;
    std::optional<CaptureError> contentError;
    // What captureImage answers; absent makes it fail with "unavailable".
    std::optional<CaptureFrame> screenshot;

    // With auto-completion (the default) every call completes on the next turn of the main loop. Without it
    // calls wait until the test completes or fails them, oldest first.
    void setAutoComplete(bool on) { autoComplete_ = on; }
    std::size_t pending(Call kind) const;
    std::size_t pendingTotal() const { return pending_.size(); }
    // Releases the oldest waiting call of this kind with success (or with `error`); false when none waits.
    bool completeNext(Call kind);
    bool failNext(Call kind, CaptureError error);
    // The next call of this kind fails with `error`, whether auto-completed or released by completeNext.
    void scriptFailure(Call kind, CaptureError error);
    // The next addStreamOutput is refused with `error`.
    void scriptOutputRefusal(CaptureError error) { outputRefusal_ = std::move(error); }

    const std::vector<std::shared_ptr<FakeCaptureStream>>& streams() const { return streams_; }
    std::shared_ptr<FakeCaptureStream> lastStream() const {
        return streams_.empty() ? nullptr : streams_.back();
    }
    std::vector<std::shared_ptr<FakeCaptureStream>> runningStreams() const;
    // Every configuration a stream was made with, in order.
    std::vector<StreamConfiguration> configurations() const;
    // The filter and configuration of each captureImage call.
    const std::vector<std::pair<ContentFilter, StreamConfiguration>>& screenshotRequests() const {
        return screenshotRequests_;
    }
    int shareableContentRequests() const { return contentRequests_; }

    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentHandler handler) override;
    std::shared_ptr<CaptureStream> makeStream(ContentFilter filter, StreamConfiguration configuration,
                                              StreamStoppedHandler onStopped) override;
    void captureImage(ContentFilter filter, StreamConfiguration configuration, ImageHandler handler) override;

private:
    friend class FakeCaptureStream;
    struct Pending {
        Call kind;
        // Finishes the call: no error = success.
        std::function<void(std::optional<CaptureError>)> finish;
    };
    void enqueue(Call kind, std::function<void(std::optional<CaptureError>)> finish);
    void finishOnLoop(Pending call, std::optional<CaptureError> error);
    std::optional<CaptureError> takeScripted(Call kind);

    MainLoop& loop_;
    bool autoComplete_ = true;
    std::deque<Pending> pending_;
    std::vector<std::pair<Call, CaptureError>> scripted_;
    std::optional<CaptureError> outputRefusal_;
    std::vector<std::shared_ptr<FakeCaptureStream>> streams_;
    std::vector<std::pair<ContentFilter, StreamConfiguration>> screenshotRequests_;
    int contentRequests_ = 0;
};

// A desktop picture for tests: answers every request with `picture` on the next loop turn.
class FakeWallpaperSource final : public WallpaperSource {
public:
    explicit FakeWallpaperSource(MainLoop& loop) : loop_(loop) {}

    std::optional<CaptureFrame> picture;
    // (maxPixelSize, nativeScale) of every request, in order.
    std::vector<std::pair<double, bool>> requests;

    void captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) override {
        requests.emplace_back(maxPixelSize, nativeScale);
        loop_.post([handler = std::move(handler), picture = picture] { handler(picture); });
    }
    Stream<int> wallpaperChanged() const override { return changes.stream(); }
    PassthroughSubject<int> changes;

private:
    MainLoop& loop_;
};

}  // namespace velaro::test
