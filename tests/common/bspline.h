// SPDX-License-Identifier: MIT
// A small B-spline evaluator, written apart from the viewer, for checking the
// shape that the viewer's control net and knots really describe.
#ifndef QUENDAL_BSPLINE_H
#define QUENDAL_BSPLINE_H

#include <cmath>
#include <vector>

struct Vec3 {
    double x, y, z;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(double k, Vec3 a) { return {k * a.x, k * a.y, k * a.z}; }
inline double length(Vec3 a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
inline Vec3 cross(Vec3 a, Vec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// De Boor's algorithm for a curve of the given order at parameter u.
inline Vec3 deBoor(const std::vector<float> &knots, int order, const std::vector<Vec3> &points,
                   double u)
{
    const int degree = order - 1;
    const int n = static_cast<int>(points.size());
    int span = degree;
    while (span < n - 1 && u >= knots[span + 1])
        span++;
    std::vector<Vec3> d(points.begin() + span - degree, points.begin() + span + 1);
    for (int r = 1; r <= degree; r++)
        for (int j = degree; j >= r; j--) {
            const int i = span - degree + j;
            const double alpha = (u - knots[i]) / (knots[i + degree + 1 - r] - knots[i]);
            d[j] = (1 - alpha) * d[j - 1] + alpha * d[j];
        }
    return d[degree];
}

// A tensor-product surface over a row-major net: rows follow s, columns t.
struct BSplineSurface {
    std::vector<float> sKnots, tKnots;
    int order;
    std::vector<std::vector<Vec3>> rows;

    Vec3 at(double s, double t) const
    {
        std::vector<Vec3> profile;
        for (const auto &row : rows)
            profile.push_back(deBoor(tKnots, order, row, t));
        return deBoor(sKnots, order, profile, s);
    }
};

#endif
