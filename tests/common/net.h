// SPDX-License-Identifier: MIT
// The control net as the bowl's construction defines it, worked out here
// apart from the viewer, with the same rounding of each value to a float.
#ifndef QUENDAL_NET_H
#define QUENDAL_NET_H

#include <cmath>
#include <vector>

#include "bspline.h"

constexpr double kStep = 0.7853975;
constexpr double kHalfStep = 0.39269875;

// The angle of column t: each sector's start, middle and end.
inline double columnAngle(int t)
{
    const int i = t / 3;
    if (t % 3 == 0)
        return i * kStep;
    if (t % 3 == 1)
        return i * kStep + kHalfStep;
    return (i + 1) * kStep;
}

// 216 floats, row-major: point (s, t) at 72 s + 3 t.
inline std::vector<float> expectedNet()
{
    std::vector<float> net;
    for (int s = 0; s < 3; s++)
        for (int t = 0; t < 24; t++) {
            const double exact = columnAngle(t);
            const double rounded = float(exact);
            const bool middle = t % 3 == 1;
            if (s == 0) {
                const double radius = middle ? 5.0 : 6.0;
                net.insert(net.end(), {float(radius * std::sin(exact)), middle ? -0.2f : 0.0f,
                                       float(radius * std::cos(rounded))});
            } else if (s == 1) {
                net.insert(net.end(), {float(3.0 * std::sin(rounded)), middle ? -2.0f : -2.8f,
                                       float(3.0 * std::cos(rounded))});
            } else {
                net.insert(net.end(), {0.0f, -3.0f, 0.0f});
            }
        }
    return net;
}

// The clamped knot vectors: one quadratic span from rim to bottom, and 22
// uniform spans around the ring.
inline std::vector<float> expectedSKnots() { return {0, 0, 0, 1, 1, 1}; }
inline std::vector<float> expectedTKnots()
{
    std::vector<float> knots = {0, 0};
    for (int k = 0; k <= 22; k++)
        knots.push_back(float(k));
    knots.insert(knots.end(), {22, 22});
    return knots;
}

inline Vec3 netPoint(const std::vector<float> &net, int s, int t)
{
    const float *p = &net[72 * s + 3 * t];
    return {p[0], p[1], p[2]};
}

#endif
