// The test capture service: every call is held or completed on the next loop turn as the test chooses.
#include "support/FakeCaptureService.h"

#include <algorithm>

namespace velaro::test {

FakeCaptureStream::FakeCaptureStream(FakeCaptureService& service, ContentFilter filter,
                                     StreamConfiguration configuration, StreamStoppedHandler onStopped)
    : service_(service), filter_(filter), configuration_(configuration), onStopped_(std::move(onStopped)) {
    filters_.push_back(std::move(filter));
}

std::optional<CaptureError> FakeCaptureStream::addStreamOutput(FrameHandler output,
                                                               std::shared_ptr<SerialQueue> queue) {
    if (auto refusal = std::exchange(service_.outputRefusal_, std::nullopt)) return refusal;
    if (!output || !queue)
        return CaptureError{CaptureErrorCode::invalidParameter, "an output needs a handler and a queue"};
    if (running_)
        return CaptureError{CaptureErrorCode::alreadyStarted, "outputs cannot change while capturing"};
    output_ = std::move(output);
    queue_ = std::move(queue);
    return std::nullopt;
}

const std::string& FakeCaptureStream::queueLabel() const {
    static const std::string none;
    return queue_ ? queue_->label() : none;
}

void FakeCaptureStream::startCapture(CaptureCompletion completion) {
    ++startCalls_;
    if (running_ || starting_) {
        service_.loop_.post([completion] {
            completion(CaptureError{CaptureErrorCode::alreadyStarted, "the stream is capturing"});
        });
        return;
    }
    starting_ = true;
    service_.enqueue(FakeCaptureService::Call::startCapture,
                     [weak = weak_from_this(), completion](std::optional<CaptureError> error) {
                         if (auto self = weak.lock()) {
                             self->starting_ = false;
                             if (!error) {
                                 self->running_ = true;
                                 self->gate_ = std::make_shared<bool>(true);
                             }
                         }
                         if (completion) completion(error);
                     });
}

void FakeCaptureStream::stopCapture(CaptureCompletion completion) {
    ++stopCalls_;
    if (!running_) {
        service_.loop_.post([completion] {
            if (completion)
                completion(CaptureError{CaptureErrorCode::notStarted, "the stream is not capturing"});
        });
        return;
    }
    // Frames already queued are dropped from the moment the stop is asked for.
    running_ = false;
    *gate_ = false;
    service_.enqueue(FakeCaptureService::Call::stopCapture, [completion](std::optional<CaptureError> error) {
        if (completion) completion(error);
    });
}

void FakeCaptureStream::updateContentFilter(ContentFilter filter, CaptureCompletion completion) {
    filters_.push_back(filter);
    service_.enqueue(
        FakeCaptureService::Call::updateContentFilter,
        [weak = weak_from_this(), filter = std::move(filter), completion](std::optional<CaptureError> error) {
            if (auto self = weak.lock(); self && !error) self->filter_ = filter;
            if (completion) completion(error);
        });
}

bool FakeCaptureStream::deliver(const CaptureFrame& frame) {
    if (!running_ || !output_ || !queue_) return false;
    queue_->async([gate = gate_, output = output_, frame] {
        if (*gate) output(frame);
    });
    return true;
}

bool FakeCaptureStream::deliverNow(const CaptureFrame& frame) {
    if (!running_ || !output_ || !*gate_) return false;
    output_(frame);
    return true;
}

void FakeCaptureStream::stopWithError(CaptureError error) {
    if (!running_) return;
    running_ = false;
    *gate_ = false;
    service_.loop_.post([weak = weak_from_this(), error] {
        if (auto self = weak.lock(); self && self->onStopped_) self->onStopped_(*self, error);
    });
}

std::size_t FakeCaptureService::pending(Call kind) const {
    return static_cast<std::size_t>(
        std::count_if(pending_.begin(), pending_.end(), [kind](const Pending& p) { return p.kind == kind; }));
}

bool FakeCaptureService::completeNext(Call kind) {
    auto it =
        std::find_if(pending_.begin(), pending_.end(), [kind](const Pending& p) { return p.kind == kind; });
    if (it == pending_.end()) return false;
    Pending call = std::move(*it);
    pending_.erase(it);
    finishOnLoop(std::move(call), takeScripted(kind));
    return true;
}

bool FakeCaptureService::failNext(Call kind, CaptureError error) {
    auto it =
        std::find_if(pending_.begin(), pending_.end(), [kind](const Pending& p) { return p.kind == kind; });
    if (it == pending_.end()) return false;
    Pending call = std::move(*it);
    pending_.erase(it);
    finishOnLoop(std::move(call), std::move(error));
    return true;
}

void FakeCaptureService::scriptFailure(Call kind, CaptureError error) {
    scripted_.emplace_back(kind, std::move(error));
}

std::optional<CaptureError> FakeCaptureService::takeScripted(Call kind) {
    auto it =
        std::find_if(scripted_.begin(), scripted_.end(), [kind](const auto& s) { return s.first == kind; });
    if (it == scripted_.end()) return std::nullopt;
    CaptureError error = std::move(it->second);
    scripted_.erase(it);
    return error;
}

void FakeCaptureService::enqueue(Call kind, std::function<void(std::optional<CaptureError>)> finish) {
    Pending call{kind, std::move(finish)};
    if (autoComplete_)
        finishOnLoop(std::move(call), takeScripted(kind));
    else
        pending_.push_back(std::move(call));
}

void FakeCaptureService::finishOnLoop(Pending call, std::optional<CaptureError> error) {
    loop_.post([finish = std::move(call.finish), error] { finish(error); });
}

std::vector<std::shared_ptr<FakeCaptureStream>> FakeCaptureService::runningStreams() const {
    std::vector<std::shared_ptr<FakeCaptureStream>> out;
    for (const auto& s : streams_)
        if (s->isRunning()) out.push_back(s);
    return out;
}

std::vector<StreamConfiguration> FakeCaptureService::configurations() const {
    std::vector<StreamConfiguration> out;
    for (const auto& s : streams_) out.push_back(s->configuration());
    return out;
}

void FakeCaptureService::getShareableContent(bool, bool, ContentHandler handler) {
    ++contentRequests_;
    // The content is read when the call completes, so a test can change the desktop while it waits.
    enqueue(Call::shareableContent, [this, handler](std::optional<CaptureError> error) {
        if (!error) error = contentError;
        if (error)
            handler(std::nullopt, error);
        else
            handler(content, std::nullopt);
    });
}

std::shared_ptr<CaptureStream> FakeCaptureService::makeStream(ContentFilter filter,
                                                              StreamConfiguration configuration,
                                                              StreamStoppedHandler onStopped) {
    auto stream =
        std::make_shared<FakeCaptureStream>(*this, std::move(filter), configuration, std::move(onStopped));
    streams_.push_back(stream);
    return stream;
}

void FakeCaptureService::captureImage(ContentFilter filter, StreamConfiguration configuration,
                                      ImageHandler handler) {
    screenshotRequests_.emplace_back(filter, configuration);
    enqueue(Call::captureImage, [this, handler](std::optional<CaptureError> error) {
        if (!error && !screenshot) error = CaptureError{CaptureErrorCode::unavailable, "no picture scripted"};
        if (error)
            handler(std::nullopt, error);
        else
            handler(screenshot, std::nullopt);
    });
}

}  // namespace velaro::test
