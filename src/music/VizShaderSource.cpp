// The visualizer's GLSL 330 program text, compiled at run time once per stage and entry point.
#include "music/VizShaderSource.h"

namespace velaro {

namespace {

// One text holds every function; compileVizShader() puts "#version", the stage's define and the entry's
// name in front, so each stage compiles only the functions it can use (gl_VertexID, fwidth).
constexpr const char* kSource = R"GLSL(
#define VIZ_MAX_WAVES 50
#define VIZ_ADAPT_TARGET_LUM 0.62
#define VIZ_ENV_LAST 63

layout(std140) uniform VizUniforms {
    vec4 u0;
    vec4 u1;
    vec4 u2;
    vec4 u3;
    vec4 u4;
    vec4 u5;
    vec4 u6;
    vec4 pal[10];
    vec4 env[16];
};

layout(std140) uniform VizWaveParams {
    vec4 wp[100];
};

// The visualizer's uv runs from (0, 0) at the top left to (1, 1) at the bottom right; a GL texture's first
// row is the bottom one.
vec2 viz_tex(vec2 uv) {
    return vec2(uv.x, 1.0 - uv.y);
}

vec3 viz_hsv2rgb(float h, float s, float v) {
    // The triangle |k - 3| - 1 gives the hue itself; 2 - |k - 3| would give its complement.
    vec3 k = fract(vec3(h) + vec3(0.0, 2.0 / 3.0, 1.0 / 3.0)) * 6.0;
    vec3 c = clamp(abs(k - 3.0) - 1.0, 0.0, 1.0);
    return v * mix(vec3(1.0), c, s);
}

// 1 above 45 % of the height, falling to 0 at the bottom edge; bars reach 40 % and are never faded.
float viz_bottom_fade(float v) {
    return 1.0 - smoothstep(0.45, 1.0, v);
}

float viz_env_sample(int i) {
    return env[i / 4][i % 4];
}

// Linear between neighbouring samples, so it is continuous in x and the wave's derivative stays valid.
float viz_band_env(float x) {
    float t = clamp(x, 0.0, 1.0) * float(VIZ_ENV_LAST);
    int i = int(floor(t));
    int j = min(i + 1, VIZ_ENV_LAST);
    return mix(viz_env_sample(i), viz_env_sample(j), t - float(i));
}

// A circular gradient over the valid stops: the last segment blends back into the first.
vec3 viz_palette(float u) {
    float n = u4.y;
    float t = fract(u) * n;
    int i = min(int(floor(t)), 9);
    int j = (float(i + 1) < n) ? i + 1 : 0;
    return mix(pal[i].rgb, pal[j].rgb, t - float(i));
}

vec3 viz_adapt(vec3 rgb, float weight) {
    float L = dot(rgb, vec3(0.2126, 0.7152, 0.0722));
    float adapt = min(1.0, VIZ_ADAPT_TARGET_LUM / max(L, 0.0001));
    return rgb * mix(1.0, adapt, weight);
}

#ifdef VIZ_VERTEX

layout(location = 0) in vec4 vizInstance;  // x, width, height, pad

out VizVaryings {
    vec4 geom;  // bar-local x and y px, cap start y px, cap radius px
    float barPos;
} vizBar;

out VizQuadVaryings {
    vec2 uv;
} vizQuad;

// Corners from the vertex index: bit 0 the right edge, bit 1 the bottom edge (a 4-vertex strip).
vec2 viz_corner() {
    return vec2(float(gl_VertexID & 1), float((gl_VertexID >> 1) & 1));
}

void viz_bar_vertex() {
    vec2 corner = viz_corner();
    float x = vizInstance.x + corner.x * vizInstance.y;
    float y = corner.y * vizInstance.z;
    gl_Position = vec4(2.0 * x - 1.0, 1.0 - 2.0 * y, 0.0, 1.0);
    float widthPx = vizInstance.y * u0.y;
    float heightPx = vizInstance.z * u0.z;
    float r = widthPx / 2.0;
    vizBar.geom = vec4(corner.x * widthPx, corner.y * heightPx, heightPx - r, r);
    vizBar.barPos = vizInstance.x + vizInstance.y / 2.0;
    vizQuad.uv = corner;
}

void viz_quad_vertex() {
    vec2 corner = viz_corner();
    gl_Position = vec4(2.0 * corner.x - 1.0, 1.0 - 2.0 * corner.y, 0.0, 1.0);
    vizQuad.uv = corner;
    vizBar.geom = vec4(0.0);
    vizBar.barPos = 0.0;
}

#endif

#ifdef VIZ_FRAGMENT

in VizVaryings {
    vec4 geom;
    float barPos;
} vizBar;

in VizQuadVaryings {
    vec2 uv;
} vizQuad;

out vec4 vizColor;

uniform sampler2D vizTexture;
uniform vec4 vizTrail;       // shift in uv units, decay
uniform float vizIntensity;  // glow
uniform vec4 vizRegion;      // the blurred part of the glow texture: size and half a texel, in tex units

// The separable blur: a centre weight and pairs of (offset, weight) taken on both sides along vizBlurStep.
uniform vec4 vizBlurTaps[40];
uniform int vizBlurPairs;
uniform float vizBlurCentre;
uniform vec2 vizBlurStep;       // tex units per tap offset unit
uniform vec2 vizBlurSourceScale;  // tex units per destination pixel
uniform vec4 vizBlurClamp;      // min xy, max xy of the sampled area, tex units

void viz_bar_fragment() {
    float alpha = u0.x * (1.0 - u2.x) * u6.z;
    vec2 p = vizBar.geom.xy;
    float capStart = vizBar.geom.z;
    float r = vizBar.geom.w;
    if (p.y > capStart) {
        float d = distance(p, vec2(r, capStart));
        alpha *= clamp(r + 0.5 - d, 0.0, 1.0);
    }
    vec3 mono = vec3(1.0 - u0.w);
    float hue = fract((u1.y + vizBar.barPos * u1.z) / 360.0);
    vec3 chromatic = viz_hsv2rgb(hue, u1.w, u6.x);
    chromatic = viz_adapt(chromatic, u0.w * (1.0 - u6.y));
    vec3 rgb = mix(mono, chromatic, u1.x);
    vizColor = vec4(rgb * alpha, alpha);
}

void viz_trail_fragment() {
    vec2 uv = vizQuad.uv;
    vizColor = texture(vizTexture, viz_tex(vec2(uv.x, uv.y - vizTrail.x))) * vizTrail.y;
}

void viz_composite_fragment() {
    vizColor = texture(vizTexture, viz_tex(vizQuad.uv)) * viz_bottom_fade(vizQuad.uv.y);
}

void viz_bloom_fragment() {
    vec2 tc = clamp(viz_tex(vizQuad.uv) * vizRegion.xy, vizRegion.zw, vizRegion.xy - vizRegion.zw);
    vizColor = texture(vizTexture, tc) * (vizIntensity * viz_bottom_fade(vizQuad.uv.y));
}

vec4 viz_blur_sample(vec2 tc) {
    return texture(vizTexture, clamp(tc, vizBlurClamp.xy, vizBlurClamp.zw));
}

void viz_blur_fragment() {
    vec2 base = gl_FragCoord.xy * vizBlurSourceScale;
    vec4 sum = viz_blur_sample(base) * vizBlurCentre;
    for (int i = 0; i < vizBlurPairs; ++i) {
        vec4 two = vizBlurTaps[i / 2];
        vec2 tap = (i % 2 == 0) ? two.xy : two.zw;
        vec2 offset = vizBlurStep * tap.x;
        sum += (viz_blur_sample(base + offset) + viz_blur_sample(base - offset)) * tap.y;
    }
    vizColor = sum;
}

void viz_wave_fragment() {
    vec2 uv = vizQuad.uv;
    float yPx = uv.y * u0.z;
    float gray = 1.0 - u0.w;
    // A loop bound from a uniform keeps the loop in uniform control flow, where fwidth is defined.
    int K = min(int(u5.x), VIZ_MAX_WAVES);
    float spectrum = viz_band_env(uv.x);
    vec3 rgbSum = vec3(0.0);
    float cover = 1.0;
    for (int k = 0; k < K; ++k) {
        vec4 dyn = wp[k];
        vec4 fix = wp[k + VIZ_MAX_WAVES];
        float dx = (uv.x - dyn.y) / dyn.z;
        float lob = mix(exp(-dx * dx), 1.0, u5.z);
        float ripple = 0.65 + 0.35 * sin(6.2831853 * uv.x * fix.x + dyn.w);
        float amp = mix(dyn.x, spectrum, u5.w);
        float h = amp * lob * ripple;
        float d = h - yPx;
        float aa = max(fwidth(d) * u2.w + u2.y, 0.001);
        // The second factor makes a collapsed lobe draw nothing, not a faint band along the top row.
        float a = smoothstep(-aa, aa, d) * smoothstep(0.0, aa, h) * u2.z;
        // Below a lobe it adds nothing: its colour is only worked out where it covers.
        if (a <= 0.0) continue;
        vec3 chroma = vec3(0.0);
        if (u3.x > 0.0) {
            float hue = u3.y + fix.z + u5.y * clamp(dx / 2.0, -1.0, 1.0);
            vec3 chromatic = u4.x < 1.0 ? viz_hsv2rgb(fract(hue / 360.0), u3.w, fix.y) : vec3(0.0);
            vec3 paletteColor = u4.x > 0.0 ? viz_palette(u4.z * uv.x + fix.w + u4.w) * fix.y : vec3(0.0);
            chroma = viz_adapt(mix(chromatic, paletteColor, u4.x), u0.w);
        }
        vec3 rgb = mix(vec3(gray * fix.y), chroma, u3.x);
        rgbSum += rgb * a;
        cover *= 1.0 - a;
    }
    float wAlpha = u0.x * u2.x * u6.z;
    vizColor = vec4(min(rgbSum, vec3(1.0)) * wAlpha, (1.0 - cover) * wAlpha);
}

#endif

void main() {
    VIZ_MAIN();
}
)GLSL";

}  // namespace

std::string vizShaderText(VizShaderStage stage, std::string_view entry) {
    std::string text = "#version 330 core\n";
    text += stage == VizShaderStage::vertex ? "#define VIZ_VERTEX 1\n" : "#define VIZ_FRAGMENT 1\n";
    text += "#define VIZ_MAIN ";
    text += entry;
    text += "\n";
    text += kSource;
    return text;
}

}  // namespace velaro
