// The visualizer's OpenGL side: one shader program per pass, three rotating sets of per-frame buffers, the
// two trail textures that take turns and the glow's separable blur. It draws bars, waves or a crossfade of
// both, with a falling trail and an additive glow, into a framebuffer it is given.
#pragma once

#include <QOpenGLContext>
#include <QPointer>
#include <QSurfaceFormat>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "music/VizRenderer.h"

class QOpenGLFunctions_3_3_Core;

namespace velaro {

// The glow's separable Gaussian for a sigma in device pixels. Above sigma 8 it runs on an image downsampled
// by 2, which keeps the widest glow's taps bounded. Each tap list is one side of the symmetric kernel as
// (offset, weight) pairs, offsets in texels of the image the blur works on; `centre` is the middle weight.
struct VizBlurKernel {
    int downsample = 1;
    float centre = 1;
    std::vector<float> horizontal;
    std::vector<float> vertical;
};
VizBlurKernel vizBlurKernel(double sigma);

// A framebuffer to draw a frame into and its size in device pixels.
struct VizRenderTarget {
    unsigned framebuffer = 0;
    int width = 0;
    int height = 0;
};

class VizBarRenderer {
public:
    // Needs an OpenGL 3.3 core (or later) context current on this thread. `drawableSize` fixes the size of
    // the offscreen textures (each side at least 1 px), `contentsScale` is the device pixels per point. Null
    // when any GL object cannot be made: no context, a shader that does not compile or link (its log goes
    // to the diagnostics), or an incomplete framebuffer.
    // The context format the renderer needs: OpenGL 3.3 core.
    static QSurfaceFormat contextFormat();
    static std::unique_ptr<VizBarRenderer> create(int drawableWidth, int drawableHeight, double contentsScale,
                                                  const std::vector<VizBarSlot>& bars);
    // Frees the GL objects when its context is current; with the context gone they went with it.
    ~VizBarRenderer();
    VizBarRenderer(const VizBarRenderer&) = delete;
    VizBarRenderer& operator=(const VizBarRenderer&) = delete;

    // Writes the frame's buffers and encodes its passes into `target`; the context must be current. Draws
    // nothing without bars.
    void encode(const VizFrame& frame, const VizRenderTarget& target);
    // The glow's blur radius in points, clamped to 2...24; the blur is rebuilt only when sigma changes.
    void setBloomSigma(double points);
    void setNeedsTrailClear() { needsTrailClear_ = true; }

    int drawableWidth() const { return width_; }
    int drawableHeight() const { return height_; }
    QOpenGLContext* context() const { return context_.data(); }
    // How many GL objects (buffers, textures, framebuffers, samplers, arrays, programs) it has made: all at
    // creation, none per frame.
    std::size_t glObjectsCreated() const { return objectsCreated_; }

private:
    VizBarRenderer() = default;
    bool build(int width, int height, double scale, const std::vector<VizBarSlot>& bars);
    unsigned compile(const char* vertexEntry, const char* fragmentEntry);
    unsigned makeTexture();
    unsigned makeFramebuffer(unsigned texture);
    void writeBuffers(const VizFrame& frame);
    void drawScene(bool bars, bool waves);
    void drawQuad(unsigned program, unsigned texture, unsigned sampler);
    void blur(unsigned source);
    void beginPass(unsigned framebuffer, int width, int height);
    void releaseObjects();

    struct Programs {
        unsigned bars = 0, trail = 0, composite = 0, wave = 0, bloom = 0, blur = 0;
    };
    struct Locations {
        int trail = -1, intensity = -1, region = -1;
        int blurTaps = -1, blurPairs = -1, blurCentre = -1, blurStep = -1, blurSourceScale = -1,
            blurClamp = -1;
    };

    QPointer<QOpenGLContext> context_;
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    Programs programs_;
    Locations locations_;
    std::array<unsigned, 3> instanceBuffers_{}, uniformBuffers_{}, waveBuffers_{}, barArrays_{};
    unsigned quadArray_ = 0;
    unsigned trailSampler_ = 0, nearestSampler_ = 0, linearSampler_ = 0;
    unsigned trailPing_ = 0, trailPong_ = 0, pingFramebuffer_ = 0, pongFramebuffer_ = 0;
    unsigned bloomTexture_ = 0, bloomFramebuffer_ = 0, blurScratch_ = 0, scratchFramebuffer_ = 0;
    int width_ = 1, height_ = 1;
    double contentsScale_ = 1;
    int instanceCount_ = 0;
    int bufferIndex_ = 0;
    bool needsTrailClear_ = true;
    bool lastTrailEnabled_ = true;
    double bloomSigma_ = 0;
    VizBlurKernel kernel_;
    std::array<float, 160> tapStaging_{};  // the shader's 40 vectors of tap pairs
    std::size_t objectsCreated_ = 0;

    // Staging copies the writer sanitises before they reach the GPU; sized once.
    std::vector<VizBarInstance> instances_;
    VizUniforms uniforms_{};
    int liveWaves_ = 0;
    float styleMix_ = 0;
};

}  // namespace velaro
