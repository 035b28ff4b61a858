#version 440

// Draws a 4:2:0 picture from its three 8-bit planes. Each plane arrives as an RGBA texture holding four
// of its bytes per texel (no conversion on the way up), so samples are fetched by hand and filtered
// bilinearly here: exact at 1:1, smooth when the picture is scaled.

layout(location = 0) in vec2 texCoord;
layout(location = 0) out vec4 fragColor;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
    vec2 pictureSize; // luma width and height in pixels
    mat4 yuvToRgb;    // (Y, U, V, 1) in 0..1 to (R, G, B, 1)
};

layout(binding = 1) uniform sampler2D yPlane;
layout(binding = 2) uniform sampler2D uPlane;
layout(binding = 3) uniform sampler2D vPlane;

float fetch(sampler2D plane, ivec2 p) {
    vec4 t = texelFetch(plane, ivec2(p.x >> 2, p.y), 0);
    int c = p.x & 3;
    return c == 0 ? t.r : (c == 1 ? t.g : (c == 2 ? t.b : t.a));
}

// `pos` in the plane's pixels, pixel centres at .5.
float bilinear(sampler2D plane, vec2 pos, ivec2 last) {
    vec2 p = pos - 0.5;
    vec2 base = floor(p);
    vec2 f = p - base;
    ivec2 i0 = clamp(ivec2(base), ivec2(0), last);
    ivec2 i1 = clamp(ivec2(base) + 1, ivec2(0), last);
    float a = fetch(plane, i0);
    float b = fetch(plane, ivec2(i1.x, i0.y));
    float c = fetch(plane, ivec2(i0.x, i1.y));
    float d = fetch(plane, i1);
    return mix(mix(a, b, f.x), mix(c, d, f.x), f.y);
}

void main() {
    vec2 pos = texCoord * pictureSize;
    ivec2 lumaLast = ivec2(pictureSize) - 1;
    ivec2 chromaLast = (ivec2(pictureSize) + 1) / 2 - 1;
    float y = bilinear(yPlane, pos, lumaLast);
    float u = bilinear(uPlane, pos * 0.5, chromaLast);
    float v = bilinear(vPlane, pos * 0.5, chromaLast);
    vec3 rgb = (yuvToRgb * vec4(y, u, v, 1.0)).rgb;
    fragColor = vec4(clamp(rgb, 0.0, 1.0), 1.0) * qt_Opacity;
}
