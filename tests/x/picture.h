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

// Pixels within two of an axis's true course.
inline std::vector<bool> nearAxes(const std::vector<Pixel> &axes, int w, int h)
{
    std::vector<bool> mask(size_t(w) * h);
    for (const Pixel &p : axes)
        for (int y = int(p.y) - 2; p.visible && y <= int(p.y) + 2; y++)
            for (int x = int(p.x) - 2; x <= int(p.x) + 2; x++)
                if (x >= 0 && y >= 0 && x < w && y < h)
                    mask[size_t(y) * w + x] = true;
    return mask;
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
    const std::vector<bool> axisNear = nearAxes(axes, w, h);
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
    for (int axis = 0; axis < 3; axis++) {
        int judged = 0, white = 0;
        const size_t per = axes.size() / 3;
        for (size_t i = axis * per; i < (axis + 1) * per; i += 3) {
            const Pixel &p = axes[i];
            const int px = int(p.x), py = int(p.y);
            if (!p.visible || px < 2 || py < 2 || px >= w - 2 || py >= h - 2 ||
                !bowl.outside(px, py, kMargin))
                continue;
            judged++;
            bool found = false;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++)
                    found = found || isWhite(image.at(px + dx, py + dy));
            white += found;
        }
        EXPECT_GE(judged, 10) << "axis " << axis << " barely in view";
        EXPECT_EQ(white, judged) << "axis " << axis;
    }
    return bounds;
}

#endif
