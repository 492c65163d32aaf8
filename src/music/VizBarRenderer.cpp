// The visualizer's OpenGL renderer: program set-up, the per-frame buffer writer and the pass encoding.
#include "music/VizBarRenderer.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <algorithm>
#include <cmath>
#include <string>

#include "base/Log.h"
#include "music/VizShaderSource.h"

namespace velaro {

namespace {

constexpr const char* kTag = "VIZ";
constexpr GLuint kUniformsBinding = 0;
constexpr GLuint kWavesBinding = 1;
// Largest sigma the blur works at after downsampling, and the tap pairs the shader has room for.
constexpr double kFullResolutionSigma = 8.0;
constexpr std::size_t kMaxBlurPairs = 80;

float finite(float v) {
    return std::isfinite(v) ? v : 0.0f;
}

VizFloat4 finite(const VizFloat4& v) {
    return {finite(v.x), finite(v.y), finite(v.z), finite(v.w)};
}

double finiteOr(double v, double fallback) {
    return std::isfinite(v) ? v : fallback;
}

}  // namespace

VizBlurKernel vizBlurKernel(double sigma) {
    VizBlurKernel kernel;
    if (!(sigma > 0) || !std::isfinite(sigma)) return kernel;
    kernel.downsample = sigma > kFullResolutionSigma ? 2 : 1;
    const auto g = vizGaussianWeights(sigma / kernel.downsample);
    const int radius = static_cast<int>(g.size()) - 1;
    kernel.centre = static_cast<float>(g[0]);
    // Linear filtering fetches two neighbouring texels at once: one tap at their weighted middle.
    for (int k = 1; k <= radius; k += 2) {
        const double a = g[k], b = k + 1 <= radius ? g[k + 1] : 0.0;
        const double w = a + b;
        kernel.vertical.push_back(static_cast<float>((k * a + (k + 1) * b) / w));
        kernel.vertical.push_back(static_cast<float>(w));
    }
    if (kernel.downsample == 1) {
        kernel.horizontal = kernel.vertical;
    } else {
        // Downsampling, each horizontal tap is the linear fetch that averages a 2 x 2 block of the full
        // image, so the taps cannot also be merged in pairs.
        for (int k = 1; k <= radius; ++k) {
            kernel.horizontal.push_back(static_cast<float>(k));
            kernel.horizontal.push_back(static_cast<float>(g[k]));
        }
    }
    return kernel;
}

QSurfaceFormat VizBarRenderer::contextFormat() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    return format;
}

std::unique_ptr<VizBarRenderer> VizBarRenderer::create(int drawableWidth, int drawableHeight,
                                                       double contentsScale,
                                                       const std::vector<VizBarSlot>& bars) {
    std::unique_ptr<VizBarRenderer> renderer(new VizBarRenderer());
    if (!renderer->build(drawableWidth, drawableHeight, contentsScale, bars)) {
        renderer->releaseObjects();
        return nullptr;
    }
    return renderer;
}

VizBarRenderer::~VizBarRenderer() {
    releaseObjects();
}

bool VizBarRenderer::build(int width, int height, double scale, const std::vector<VizBarSlot>& bars) {
    context_ = QOpenGLContext::currentContext();
    if (!context_ || !context_->isValid()) {
        qCWarning(lcVisualizer) << tagged(kTag, "renderer: no current OpenGL context");
        return false;
    }
    const auto format = context_->format();
    if (format.version() < qMakePair(3, 3) || context_->isOpenGLES()) {
        qCWarning(lcVisualizer) << tagged(kTag, "renderer: OpenGL 3.3 is not available (got " +
                                                    std::to_string(format.majorVersion()) + "." +
                                                    std::to_string(format.minorVersion()) + ")");
        return false;
    }
    gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(context_);
    if (!gl_) {
        qCWarning(lcVisualizer) << tagged(kTag, "renderer: no OpenGL 3.3 core functions");
        return false;
    }
    auto& gl = *gl_;
    width_ = std::max(1, width);
    height_ = std::max(1, height);
    contentsScale_ = std::isfinite(scale) && scale > 0 ? scale : 1.0;

    programs_.bars = compile("viz_bar_vertex", "viz_bar_fragment");
    programs_.trail = compile("viz_quad_vertex", "viz_trail_fragment");
    programs_.composite = compile("viz_quad_vertex", "viz_composite_fragment");
    programs_.wave = compile("viz_quad_vertex", "viz_wave_fragment");
    programs_.bloom = compile("viz_quad_vertex", "viz_bloom_fragment");
    programs_.blur = compile("viz_quad_vertex", "viz_blur_fragment");
    if (!programs_.bars || !programs_.trail || !programs_.composite || !programs_.wave || !programs_.bloom ||
        !programs_.blur)
        return false;
    locations_.trail = gl.glGetUniformLocation(programs_.trail, "vizTrail");
    locations_.intensity = gl.glGetUniformLocation(programs_.bloom, "vizIntensity");
    locations_.region = gl.glGetUniformLocation(programs_.bloom, "vizRegion");
    locations_.blurTaps = gl.glGetUniformLocation(programs_.blur, "vizBlurTaps");
    locations_.blurPairs = gl.glGetUniformLocation(programs_.blur, "vizBlurPairs");
    locations_.blurCentre = gl.glGetUniformLocation(programs_.blur, "vizBlurCentre");
    locations_.blurStep = gl.glGetUniformLocation(programs_.blur, "vizBlurStep");
    locations_.blurSourceScale = gl.glGetUniformLocation(programs_.blur, "vizBlurSourceScale");
    locations_.blurClamp = gl.glGetUniformLocation(programs_.blur, "vizBlurClamp");

    // The trail reads transparent black above the top edge; the other passes clamp to the edge.
    auto makeSampler = [&](GLint filter, GLint wrap) {
        GLuint sampler = 0;
        gl.glGenSamplers(1, &sampler);
        ++objectsCreated_;
        gl.glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, filter);
        gl.glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, filter);
        gl.glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, wrap);
        gl.glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, wrap);
        const GLfloat transparent[4] = {0, 0, 0, 0};
        gl.glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, transparent);
        return sampler;
    };
    trailSampler_ = makeSampler(GL_LINEAR, GL_CLAMP_TO_BORDER);
    nearestSampler_ = makeSampler(GL_NEAREST, GL_CLAMP_TO_EDGE);
    linearSampler_ = makeSampler(GL_LINEAR, GL_CLAMP_TO_EDGE);

    trailPing_ = makeTexture();
    trailPong_ = makeTexture();
    bloomTexture_ = makeTexture();
    blurScratch_ = makeTexture();
    pingFramebuffer_ = makeFramebuffer(trailPing_);
    pongFramebuffer_ = makeFramebuffer(trailPong_);
    bloomFramebuffer_ = makeFramebuffer(bloomTexture_);
    scratchFramebuffer_ = makeFramebuffer(blurScratch_);
    if (!pingFramebuffer_ || !pongFramebuffer_ || !bloomFramebuffer_ || !scratchFramebuffer_) return false;

    instanceCount_ = static_cast<int>(bars.size());
    instances_.assign(std::max<std::size_t>(bars.size(), 1), VizBarInstance{});
    for (std::size_t i = 0; i < bars.size(); ++i)
        instances_[i] = {finite(bars[i].x), finite(bars[i].width), 0.0f, 0.0f};
    const VizUniforms zeroUniforms{};
    const VizWaveParams zeroWaves{};
    gl.glGenVertexArrays(1, &quadArray_);
    ++objectsCreated_;
    for (int i = 0; i < 3; ++i) {
        GLuint buffers[3] = {0, 0, 0};
        gl.glGenBuffers(3, buffers);
        objectsCreated_ += 3;
        instanceBuffers_[i] = buffers[0];
        uniformBuffers_[i] = buffers[1];
        waveBuffers_[i] = buffers[2];
        gl.glGenVertexArrays(1, &barArrays_[i]);
        ++objectsCreated_;
        gl.glBindVertexArray(barArrays_[i]);
        gl.glBindBuffer(GL_ARRAY_BUFFER, instanceBuffers_[i]);
        gl.glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(instances_.size() * sizeof(VizBarInstance)),
                        instances_.data(), GL_DYNAMIC_DRAW);
        gl.glEnableVertexAttribArray(0);
        gl.glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(VizBarInstance), nullptr);
        gl.glVertexAttribDivisor(0, 1);
        gl.glBindBuffer(GL_UNIFORM_BUFFER, uniformBuffers_[i]);
        gl.glBufferData(GL_UNIFORM_BUFFER, sizeof(VizUniforms), &zeroUniforms, GL_DYNAMIC_DRAW);
        gl.glBindBuffer(GL_UNIFORM_BUFFER, waveBuffers_[i]);
        gl.glBufferData(GL_UNIFORM_BUFFER, sizeof(VizWaveParams), &zeroWaves, GL_DYNAMIC_DRAW);
    }
    gl.glBindVertexArray(0);
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl.glBindBuffer(GL_UNIFORM_BUFFER, 0);
    if (const GLenum error = gl.glGetError(); error != GL_NO_ERROR) {
        qCWarning(lcVisualizer) << tagged(
            kTag, "renderer: OpenGL error " + std::to_string(error) + " while making its objects");
        return false;
    }
    return true;
}

GLuint VizBarRenderer::compile(const char* vertexEntry, const char* fragmentEntry) {
    auto& gl = *gl_;
    auto stage = [&](GLenum type, VizShaderStage which, const char* entry) -> GLuint {
        const std::string text = vizShaderText(which, entry);
        const GLuint shader = gl.glCreateShader(type);
        const char* source = text.c_str();
        gl.glShaderSource(shader, 1, &source, nullptr);
        gl.glCompileShader(shader);
        GLint ok = GL_FALSE;
        gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
        if (ok) return shader;
        GLint length = 0;
        gl.glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
        std::string log(std::max(length, 1), '\0');
        gl.glGetShaderInfoLog(shader, length, nullptr, log.data());
        qCWarning(lcVisualizer) << tagged(
            kTag, std::string("renderer: ") + entry + " does not compile: " + log.c_str());
        gl.glDeleteShader(shader);
        return 0;
    };
    const GLuint vertex = stage(GL_VERTEX_SHADER, VizShaderStage::vertex, vertexEntry);
    const GLuint fragment = stage(GL_FRAGMENT_SHADER, VizShaderStage::fragment, fragmentEntry);
    if (!vertex || !fragment) {
        if (vertex) gl.glDeleteShader(vertex);
        if (fragment) gl.glDeleteShader(fragment);
        return 0;
    }
    const GLuint program = gl.glCreateProgram();
    ++objectsCreated_;
    gl.glAttachShader(program, vertex);
    gl.glAttachShader(program, fragment);
    gl.glLinkProgram(program);
    gl.glDeleteShader(vertex);
    gl.glDeleteShader(fragment);
    GLint ok = GL_FALSE;
    gl.glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        GLint length = 0;
        gl.glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        std::string log(std::max(length, 1), '\0');
        gl.glGetProgramInfoLog(program, length, nullptr, log.data());
        qCWarning(lcVisualizer) << tagged(kTag, std::string("renderer: ") + vertexEntry + " + " +
                                                    fragmentEntry + " do not link: " + log.c_str());
        gl.glDeleteProgram(program);
        return 0;
    }
    if (const GLuint block = gl.glGetUniformBlockIndex(program, "VizUniforms"); block != GL_INVALID_INDEX)
        gl.glUniformBlockBinding(program, block, kUniformsBinding);
    if (const GLuint block = gl.glGetUniformBlockIndex(program, "VizWaveParams"); block != GL_INVALID_INDEX)
        gl.glUniformBlockBinding(program, block, kWavesBinding);
    gl.glUseProgram(program);
    if (const GLint texture = gl.glGetUniformLocation(program, "vizTexture"); texture >= 0)
        gl.glUniform1i(texture, 0);
    gl.glUseProgram(0);
    return program;
}

GLuint VizBarRenderer::makeTexture() {
    auto& gl = *gl_;
    GLuint texture = 0;
    gl.glGenTextures(1, &texture);
    ++objectsCreated_;
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    // Plain UNORM: the shaders work on the stored values as they are, with no sRGB conversion.
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width_, height_, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

GLuint VizBarRenderer::makeFramebuffer(GLuint texture) {
    auto& gl = *gl_;
    GLuint framebuffer = 0;
    gl.glGenFramebuffers(1, &framebuffer);
    ++objectsCreated_;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    const GLenum status = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER);
    // Clean from the start: the first trail frame reads the previous image.
    if (status == GL_FRAMEBUFFER_COMPLETE) {
        gl.glViewport(0, 0, width_, height_);
        gl.glClearColor(0, 0, 0, 0);
        gl.glClear(GL_COLOR_BUFFER_BIT);
    }
    gl.glBindFramebuffer(GL_FRAMEBUFFER, context_->defaultFramebufferObject());
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        qCWarning(lcVisualizer) << tagged(
            kTag, "renderer: framebuffer incomplete (status " + std::to_string(status) + ")");
        gl.glDeleteFramebuffers(1, &framebuffer);
        return 0;
    }
    return framebuffer;
}

void VizBarRenderer::releaseObjects() {
    // Without its context current the objects cannot be named; when the context is gone they went with it.
    if (!gl_ || !context_ || QOpenGLContext::currentContext() != context_.data()) {
        gl_ = nullptr;
        return;
    }
    auto& gl = *gl_;
    for (GLuint program : {programs_.bars, programs_.trail, programs_.composite, programs_.wave,
                           programs_.bloom, programs_.blur})
        if (program) gl.glDeleteProgram(program);
    programs_ = {};
    for (auto* set : {&instanceBuffers_, &uniformBuffers_, &waveBuffers_}) {
        gl.glDeleteBuffers(3, set->data());
        set->fill(0);
    }
    gl.glDeleteVertexArrays(3, barArrays_.data());
    barArrays_.fill(0);
    gl.glDeleteVertexArrays(1, &quadArray_);
    const GLuint samplers[] = {trailSampler_, nearestSampler_, linearSampler_};
    gl.glDeleteSamplers(3, samplers);
    const GLuint framebuffers[] = {pingFramebuffer_, pongFramebuffer_, bloomFramebuffer_,
                                   scratchFramebuffer_};
    gl.glDeleteFramebuffers(4, framebuffers);
    const GLuint textures[] = {trailPing_, trailPong_, bloomTexture_, blurScratch_};
    gl.glDeleteTextures(4, textures);
    gl_ = nullptr;
}

void VizBarRenderer::setBloomSigma(double points) {
    const double sigma = vizBloomSigma(points, contentsScale_);
    if (sigma == bloomSigma_) return;
    bloomSigma_ = sigma;
    kernel_ = vizBlurKernel(sigma);
    // Only a pixel ratio far beyond any screen's makes a longer kernel; a shortened one still glows.
    for (auto* taps : {&kernel_.horizontal, &kernel_.vertical})
        taps->resize(std::min(taps->size(), 2 * kMaxBlurPairs));
}

void VizBarRenderer::writeBuffers(const VizFrame& frame) {
    auto& gl = *gl_;
    for (int i = 0; i < instanceCount_; ++i)
        instances_[i].height = i < static_cast<int>(frame.heights.size()) ? finite(frame.heights[i]) : 0.0f;

    uniforms_ = vizSanitisedUniforms(frame.uniforms);
    const VizUniforms& u = uniforms_;
    liveWaves_ = static_cast<int>(u.u5.x);
    styleMix_ = u.u2.x;

    gl.glBindBuffer(GL_ARRAY_BUFFER, instanceBuffers_[bufferIndex_]);
    gl.glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(instanceCount_ * sizeof(VizBarInstance)),
                       instances_.data());
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl.glBindBuffer(GL_UNIFORM_BUFFER, uniformBuffers_[bufferIndex_]);
    gl.glBufferSubData(GL_UNIFORM_BUFFER, 0, sizeof(VizUniforms), &u);
    if (styleMix_ > 0.001f && frame.waves && liveWaves_ > 0) {
        // Both lanes of the live waves; the shader reads no entry beyond them.
        std::array<VizFloat4, VIZ_MAX_WAVES> lane;
        const auto count = static_cast<std::size_t>(liveWaves_);
        const GLsizeiptr bytes = GLsizeiptr(count * sizeof(VizFloat4));
        for (std::size_t k = 0; k < count; ++k) lane[k] = finite(frame.waves->wp[k]);
        gl.glBindBuffer(GL_UNIFORM_BUFFER, waveBuffers_[bufferIndex_]);
        gl.glBufferSubData(GL_UNIFORM_BUFFER, 0, bytes, lane.data());
        for (std::size_t k = 0; k < count; ++k) lane[k] = finite(frame.waves->wp[k + VIZ_MAX_WAVES]);
        gl.glBufferSubData(GL_UNIFORM_BUFFER, GLintptr(VIZ_MAX_WAVES * sizeof(VizFloat4)), bytes,
                           lane.data());
    }
    gl.glBindBuffer(GL_UNIFORM_BUFFER, 0);
}

void VizBarRenderer::beginPass(GLuint framebuffer, int width, int height) {
    auto& gl = *gl_;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl.glViewport(0, 0, width, height);
    gl.glClearColor(0, 0, 0, 0);
    gl.glClear(GL_COLOR_BUFFER_BIT);
}

void VizBarRenderer::drawScene(bool bars, bool waves) {
    auto& gl = *gl_;
    // Premultiplied colour over what is there.
    gl.glEnable(GL_BLEND);
    gl.glBlendEquation(GL_FUNC_ADD);
    gl.glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    gl.glBindBufferBase(GL_UNIFORM_BUFFER, kUniformsBinding, uniformBuffers_[bufferIndex_]);
    gl.glBindBufferBase(GL_UNIFORM_BUFFER, kWavesBinding, waveBuffers_[bufferIndex_]);
    if (bars) {
        gl.glUseProgram(programs_.bars);
        gl.glBindVertexArray(barArrays_[bufferIndex_]);
        gl.glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, instanceCount_);
    }
    if (waves) {
        // One quad draws every wave.
        gl.glUseProgram(programs_.wave);
        gl.glBindVertexArray(quadArray_);
        gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
}

void VizBarRenderer::drawQuad(GLuint program, GLuint texture, GLuint sampler) {
    auto& gl = *gl_;
    gl.glUseProgram(program);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    gl.glBindSampler(0, sampler);
    gl.glBindVertexArray(quadArray_);
    gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void VizBarRenderer::blur(GLuint source) {
    auto& gl = *gl_;
    const int f = kernel_.downsample;
    const int workWidth = (width_ + f - 1) / f, workHeight = (height_ + f - 1) / f;
    const float w = float(width_), h = float(height_);
    gl.glDisable(GL_BLEND);
    gl.glUseProgram(programs_.blur);
    gl.glUniform1f(locations_.blurCentre, kernel_.centre);
    auto pass = [&](GLuint framebuffer, GLuint from, const std::vector<float>& taps, float stepX, float stepY,
                    float scaleX, float scaleY, float maxX, float maxY) {
        gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl.glViewport(0, 0, workWidth, workHeight);
        // Uploaded whole vectors at a time, from a copy padded with zero weights.
        std::copy(taps.begin(), taps.end(), tapStaging_.begin());
        std::fill(tapStaging_.begin() + std::ptrdiff_t(taps.size()), tapStaging_.end(), 0.0f);
        gl.glUniform4fv(locations_.blurTaps, GLsizei((taps.size() + 3) / 4), tapStaging_.data());
        gl.glUniform1i(locations_.blurPairs, GLint(taps.size() / 2));
        gl.glUniform2f(locations_.blurStep, stepX, stepY);
        gl.glUniform2f(locations_.blurSourceScale, scaleX, scaleY);
        gl.glUniform4f(locations_.blurClamp, 0.5f / w, 0.5f / h, maxX, maxY);
        drawQuad(programs_.blur, from, linearSampler_);
    };
    // Across, from the full image (downsampling on the way when the blur is wide), then down within the
    // downsampled area of the scratch texture.
    pass(scratchFramebuffer_, source, kernel_.horizontal, f / w, 0, f / w, f / h, 1 - 0.5f / w, 1 - 0.5f / h);
    pass(bloomFramebuffer_, blurScratch_, kernel_.vertical, 0, 1 / h, 1 / w, 1 / h, (workWidth - 0.5f) / w,
         (workHeight - 0.5f) / h);
}

void VizBarRenderer::encode(const VizFrame& frame, const VizRenderTarget& target) {
    if (instanceCount_ < 1 || !gl_ || target.width < 1 || target.height < 1) return;
    auto& gl = *gl_;
    bufferIndex_ = (bufferIndex_ + 1) % 3;
    writeBuffers(frame);

    gl.glDisable(GL_DEPTH_TEST);
    gl.glDisable(GL_STENCIL_TEST);
    gl.glDisable(GL_SCISSOR_TEST);
    gl.glDisable(GL_CULL_FACE);
    gl.glDisable(GL_FRAMEBUFFER_SRGB);
    gl.glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    const bool bars = styleMix_ < 0.999f;
    const bool waves = styleMix_ > 0.001f;
    const double intensity = finiteOr(frame.bloomIntensity, 0.0);
    const bool bloom = intensity > 0.001 && bloomSigma_ > 0 && bloomTexture_;
    if (frame.trail) {
        if (!lastTrailEnabled_) needsTrailClear_ = true;
        lastTrailEnabled_ = true;
    } else {
        lastTrailEnabled_ = false;
    }

    if ((!frame.trail && !bloom) || !trailPing_ || !trailPong_) {
        // Direct: no trail, no bottom fade, no glow.
        beginPass(target.framebuffer, target.width, target.height);
        drawScene(bars, waves);
    } else {
        if (needsTrailClear_) {
            needsTrailClear_ = false;
            beginPass(pingFramebuffer_, width_, height_);
            beginPass(pongFramebuffer_, width_, height_);
        }
        beginPass(pongFramebuffer_, width_, height_);
        if (frame.trail) {
            const double dt = std::max(0.0, finiteOr(frame.dt, 0.0));
            const double length = std::max(finiteOr(frame.trailLength, 0.01), 0.01);
            const double shift = 40.0 * dt * contentsScale_ / std::max(height_, 1);
            const double decay = std::exp2(-dt / length);
            gl.glDisable(GL_BLEND);
            gl.glUseProgram(programs_.trail);
            gl.glUniform4f(locations_.trail, float(shift), float(decay), 0, 0);
            drawQuad(programs_.trail, trailPing_, trailSampler_);
        }
        drawScene(bars, waves);
        if (bloom) blur(trailPong_);

        beginPass(target.framebuffer, target.width, target.height);
        gl.glEnable(GL_BLEND);
        gl.glBlendEquation(GL_FUNC_ADD);
        if (bloom) {
            const int f = kernel_.downsample;
            const float w = float(width_), h = float(height_);
            gl.glBlendFunc(GL_ONE, GL_ONE);
            gl.glUseProgram(programs_.bloom);
            gl.glUniform1f(locations_.intensity, float(intensity));
            gl.glUniform4f(locations_.region, float((width_ + f - 1) / f) / w,
                           float((height_ + f - 1) / f) / h, 0.5f / w, 0.5f / h);
            drawQuad(programs_.bloom, bloomTexture_, linearSampler_);
        }
        // The sharp image over the glow.
        gl.glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        drawQuad(programs_.composite, trailPong_, nearestSampler_);
        if (frame.trail) {
            std::swap(trailPing_, trailPong_);
            std::swap(pingFramebuffer_, pongFramebuffer_);
        }
    }
    gl.glBindSampler(0, 0);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    gl.glBindVertexArray(0);
    gl.glUseProgram(0);
    gl.glBindBufferBase(GL_UNIFORM_BUFFER, kUniformsBinding, 0);
    gl.glBindBufferBase(GL_UNIFORM_BUFFER, kWavesBinding, 0);
    gl.glDisable(GL_BLEND);
}

}  // namespace velaro
