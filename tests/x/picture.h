// SPDX-License-Identifier: MIT
// Reading the viewer's picture: what each pixel shows, and whether the whole
// picture is the one a given view should give.
#ifndef QUENDAL_PICTURE_H
#define QUENDAL_PICTURE_H

#include <gtest/gtest.h>

#include <algorithm>

#include "scene.h"

// Pixels within this distance of the bowl's true outline are not judged:
// GLU draws the surface as polygons, not as the exact curve.
constexpr int kMargin = 6;

inline bool isBlack(xt::Rgb c) { return std::max({c.r, c.g, c.b}) <= 3; }
inline bool isWhite(xt::Rgb c) { return std::min({c.r, c.g, c.b}) >= 240; }
// The surface's material is cyan: lit or in shadow, blue >= green >= red.
inline bool isSurface(xt::Rgb c)
{
    return !isBlack(c) && !isWhite(c) && c.b + 3 >= c.g && c.g + 3 >= c.r;
}

inline bool isGreen(xt::Rgb c) { return c.g >= 200 && c.r <= 40 && c.b <= 40; }
inline bool isYellow(xt::Rgb c) { return c.r >= 200 && c.g >= 200 && c.b <= 40; }

inline int countPixels(const xt::Image &image, bool (*kind)(xt::Rgb))
{
    int n = 0;
    for (int y = 0; y < image.height; y++)
        for (int x = 0; x < image.width; x++)
            n += kind(image.at(x, y));
    return n;
}

// Projected samples along the control mesh: the three open rings, then the
// 24 profiles.
inline std::vector<Pixel> meshSamples(const View &v, int w, int h)
{
    const std::vector<float> net = expectedNet();
    std::vector<Pixel> out;
    auto segment = [&](Vec3 a, Vec3 b) {
        for (double u = 0; u <= 1; u += 0.005)
            out.push_back(project(a + u * (b - a), v, w, h, true));
    };
    for (int s = 0; s < 3; s++)
        for (int t = 0; t + 1 < 24; t++)
            segment(netPoint(net, s, t), netPoint(net, s, t + 1));
    for (int t = 0; t < 24; t++)
        for (int s = 0; s + 1 < 3; s++)
            segment(netPoint(net, s, t), netPoint(net, s + 1, t));
    return out;
}

// Projected samples along the three 30-unit axes.
inline std::vector<Pixel> axisSamples(const View &v, int w, int h)
{
    std::vector<Pixel> out;
    for (int axis = 0; axis < 3; axis++)
        for (double u = 0; u <= 30; u += 0.02) {
            const Vec3 p = {axis == 0 ? u : 0, axis == 1 ? u : 0, axis == 2 ? u : 0};
            out.push_back(project(p, v, w, h, false));
        }
    return out;
}

// Pixels within two of the true course of projected lines.
inline std::vector<bool> nearLines(const std::vector<Pixel> &lines, int w, int h)
{
    std::vector<bool> mask(size_t(w) * h);
    for (const Pixel &p : lines)
        for (int y = int(p.y) - 2; p.visible && y <= int(p.y) + 2; y++)
            for (int x = int(p.x) - 2; x <= int(p.x) + 2; x++)
                if (x >= 0 && y >= 0 && x < w && y < h)
                    mask[size_t(y) * w + x] = true;
    return mask;
}

inline bool inWindow(const Pixel &p, int w, int h)
{
    return p.x >= 2 && p.y >= 2 && p.x < w - 2 && p.y < h - 2;
}

// The share of the samples that have a pixel of the kind within one pixel.
inline double drawnShare(const xt::Image &image, const std::vector<Pixel> &samples,
                         bool (*kind)(xt::Rgb))
{
    int found = 0;
    for (const Pixel &p : samples) {
        bool hit = false;
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++)
                hit = hit || kind(image.at(int(p.x) + dx, int(p.y) + dy));
        found += hit;
    }
    return samples.empty() ? 0.0 : double(found) / samples.size();
}

struct Bounds {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    double aspect() const { return double(right - left + 1) / (bottom - top + 1); }
};

// Checks the picture against the view: black background, white axes where
// they should run, and the lit surface wherever the bowl lies. Returns the
// bounds of the surface's pixels.
inline Bounds expectShowsBowl(const xt::Image &image, const View &view)
{
    const int w = image.width, h = image.height;
    const Coverage bowl(view, w, h);
    const std::vector<Pixel> axes = axisSamples(view, w, h);
    const std::vector<bool> axisNear = nearLines(axes, w, h);
    Bounds bounds;
    int inside = 0, surface = 0, strayOutside = 0, levels = 0;
    std::vector<bool> seenLevel(256);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const xt::Rgb c = image.at(x, y);
            if (isSurface(c)) {
                bounds.left = std::min(bounds.left, x);
                bounds.right = std::max(bounds.right, x);
                bounds.top = std::min(bounds.top, y);
                bounds.bottom = std::max(bounds.bottom, y);
            }
            if (bowl.outside(x, y, kMargin)) {
                const bool ok = isBlack(c) || (isWhite(c) && axisNear[size_t(y) * w + x]);
                strayOutside += !ok;
            } else if (bowl.inside(x, y, kMargin) && !axisNear[size_t(y) * w + x]) {
                inside++;
                surface += isSurface(c);
                if (isSurface(c) && !seenLevel[c.b]) {
                    seenLevel[c.b] = true;
                    levels++;
                }
            }
        }
    EXPECT_EQ(strayOutside, 0) << "pixels away from the bowl that are neither background nor axis";
    EXPECT_GT(inside, w * h / 40) << "too little of the bowl in view to judge";
    EXPECT_GE(surface, inside * 995 / 1000) << surface << " of " << inside << " bowl pixels lit";
    // Lighting, not a flat fill: the surface shows many shades.
    EXPECT_GE(levels, 40);

    // Each axis is drawn, white, along its whole visible length.
    const size_t per = axes.size() / 3;
    size_t judged = 0;
    for (int axis = 0; axis < 3; axis++) {
        std::vector<Pixel> clear;
        for (size_t i = axis * per; i < (axis + 1) * per; i += 3) {
            const Pixel &p = axes[i];
            if (p.visible && inWindow(p, w, h) && bowl.outside(int(p.x), int(p.y), kMargin))
                clear.push_back(p);
        }
        judged += clear.size();
        if (!clear.empty()) {
            EXPECT_EQ(drawnShare(image, clear, isWhite), 1.0) << "axis " << axis;
        }
    }
    EXPECT_GE(judged, 30u) << "the axes are barely in view";
    return bounds;
}

#endif
