// SPDX-License-Identifier: MIT
// Where the viewer's geometry should land in its window, worked out from the
// view, the perspective and the bowl's own B-spline, apart from GL.
#ifndef QUENDAL_SCENE_H
#define QUENDAL_SCENE_H

#include <cmath>
#include <vector>

#include "bspline.h"
#include "net.h"
#include "xharness.h"

struct View {
    double distance = 40, rx = 20, ry = -30, rz = 0;
};

struct Pixel {
    double x, y;
    bool visible;  // in front of the near plane
};

// glRotate's matrix, applied to a point.
inline Vec3 rotate(Vec3 p, double degrees, int axis)
{
    const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
    if (axis == 0)
        return {p.x, c * p.y - s * p.z, s * p.y + c * p.z};
    if (axis == 1)
        return {c * p.x + s * p.z, p.y, -s * p.x + c * p.z};
    return {c * p.x - s * p.y, s * p.x + c * p.y, p.z};
}

// A model point to window pixels, y growing downward as X has it. Surface
// points are turned half a turn about X first, as the viewer draws them.
inline Pixel project(Vec3 p, const View &v, int width, int height, bool surface)
{
    if (surface)
        p = rotate(p, 180, 0);
    p = rotate(rotate(rotate(p, v.rz, 2), v.ry, 1), v.rx, 0);
    p.z -= v.distance;
    const double aspect = width > 0 ? double(float(height * 1.0 / width)) : 1.0;
    const double near = 5;
    const double nx = near * p.x / -p.z, ny = near * p.y / (aspect * -p.z);
    return {(nx + 1) * width / 2, (1 - ny) * height / 2, -p.z >= near};
}

inline BSplineSurface expectedBowl()
{
    BSplineSurface bowl{expectedSKnots(), expectedTKnots(), 3, {}};
    const std::vector<float> net = expectedNet();
    for (int s = 0; s < 3; s++) {
        bowl.rows.emplace_back();
        for (int t = 0; t < 24; t++)
            bowl.rows.back().push_back(netPoint(net, s, t));
    }
    return bowl;
}

// Pixels the bowl covers, from a dense sampling of the surface, with counts
// over square neighbourhoods for asking "well inside" and "well outside".
class Coverage {
public:
    Coverage(const View &v, int width, int height)
        : w_(width), h_(height), sum_((w_ + 1) * (h_ + 1))
    {
        static const BSplineSurface bowl = expectedBowl();
        std::vector<int> hit(w_ * h_);
        for (int i = 0; i <= 256; i++)
            for (int j = 0; j <= 22 * 64; j++) {
                const Pixel p = project(bowl.at(i / 256.0, j / 64.0), v, w_, h_, true);
                if (p.visible && p.x >= 0 && p.y >= 0 && p.x < w_ && p.y < h_)
                    hit[int(p.y) * w_ + int(p.x)] = 1;
            }
        for (int y = 0; y < h_; y++)
            for (int x = 0; x < w_; x++)
                sum_[(y + 1) * (w_ + 1) + x + 1] = hit[y * w_ + x] + sum_[y * (w_ + 1) + x + 1] +
                                                   sum_[(y + 1) * (w_ + 1) + x] -
                                                   sum_[y * (w_ + 1) + x];
    }
    // Every pixel within `margin` of (x, y) is covered.
    bool inside(int x, int y, int margin) const
    {
        const int side = 2 * margin + 1;
        return x - margin >= 0 && y - margin >= 0 && x + margin < w_ && y + margin < h_ &&
               count(x, y, margin) == side * side;
    }
    // No pixel within `margin` of (x, y) is covered.
    bool outside(int x, int y, int margin) const { return count(x, y, margin) == 0; }

private:
    int count(int x, int y, int m) const
    {
        const int x0 = std::max(0, x - m), y0 = std::max(0, y - m);
        const int x1 = std::min(w_, x + m + 1), y1 = std::min(h_, y + m + 1);
        if (x0 >= x1 || y0 >= y1)
            return 0;
        return sum_[y1 * (w_ + 1) + x1] - sum_[y0 * (w_ + 1) + x1] - sum_[y1 * (w_ + 1) + x0] +
               sum_[y0 * (w_ + 1) + x0];
    }
    int w_, h_;
    std::vector<int> sum_;
};

#endif
