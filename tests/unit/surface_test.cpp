// SPDX-License-Identifier: MIT
// The control net, the drawing of points and mesh, and the shape the net and
// knots describe, evaluated independently of GLU.
#include <gtest/gtest.h>

#include <cmath>

#include "fake_gl.h"
#include "net.h"
#include "surface.h"
#include "viewer.h"

using fake::Call;

namespace {

// The net and knots exactly as the program hands them to GLU.
fake::NurbsSurface capturedSurface()
{
    const int saved = showSurface;
    showSurface = 1;
    initSurfaceModel();
    fake::reset();
    drawSurfaceModel();
    showSurface = saved;
    return fake::lastSurface;
}

Vec3 point(int s, int t) { return netPoint(capturedSurface().control, s, t); }

BSplineSurface capturedBSpline()
{
    const fake::NurbsSurface captured = capturedSurface();
    BSplineSurface surface{captured.sKnots, captured.tKnots, 3, {}};
    for (int s = 0; s < 3; s++) {
        surface.rows.emplace_back();
        for (int t = 0; t < 24; t++)
            surface.rows.back().push_back(netPoint(captured.control, s, t));
    }
    return surface;
}

void expectNear(Vec3 a, Vec3 b, double tolerance)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

struct Flags {
    int surface, points, mesh;
};

std::vector<Call> drawWith(Flags flags)
{
    const Flags saved = {showSurface, showPoints, showMesh};
    showSurface = flags.surface;
    showPoints = flags.points;
    showMesh = flags.mesh;
    initSurfaceModel();
    fake::reset();
    drawSurfaceModel();
    showSurface = saved.surface;
    showPoints = saved.points;
    showMesh = saved.mesh;
    return fake::calls;
}

}  // namespace

TEST(ControlNet, EdgeCasesBitForBit)
{
    // Column 0 lies on +Z exactly.
    EXPECT_EQ(point(0, 0).x, 0.0);
    EXPECT_EQ(point(0, 0).y, 0.0);
    EXPECT_EQ(point(0, 0).z, 6.0);

    // The first junction: the sine of the double angle, the cosine of the
    // float angle, and the point doubled across the two sectors.
    const double a = 0.7853975;
    const double af = float(a);
    EXPECT_EQ(point(0, 2).x, double(float(6.0 * std::sin(a))));
    EXPECT_EQ(point(0, 2).z, double(float(6.0 * std::cos(af))));
    EXPECT_EQ(point(0, 2).y, 0.0);
    EXPECT_EQ(point(0, 3).x, point(0, 2).x);
    EXPECT_EQ(point(0, 3).z, point(0, 2).z);
    EXPECT_NEAR(point(0, 2).z - point(0, 2).x, 5.7e-6, 0.5e-6);

    const double b = 0.39269875;
    const double bf = float(b);
    EXPECT_EQ(point(0, 1).x, double(float(5.0 * std::sin(b))));
    EXPECT_EQ(point(0, 1).y, double(-0.2f));
    EXPECT_EQ(point(0, 1).z, double(float(5.0 * std::cos(bf))));
    EXPECT_EQ(point(1, 1).x, double(float(3.0 * std::sin(bf))));
    EXPECT_EQ(point(1, 1).y, -2.0);
    EXPECT_EQ(point(1, 1).z, double(float(3.0 * std::cos(bf))));

    // The ring falls just short of a full turn.
    EXPECT_EQ(point(0, 23).x, double(float(6.0 * std::sin(8 * a))));
    EXPECT_NEAR(point(0, 23).x, -3.18e-5, 0.01e-5);
    EXPECT_NEAR(point(1, 23).x, -1.52e-5, 0.01e-5);

    for (int t = 0; t < 24; t++) {
        EXPECT_EQ(point(2, t).x, 0.0);
        EXPECT_EQ(point(2, t).y, -3.0);
        EXPECT_EQ(point(2, t).z, 0.0);
    }
    for (int k = 1; k <= 7; k++) {
        expectNear(point(0, 3 * k - 1), point(0, 3 * k), 0.0);
        expectNear(point(1, 3 * k - 1), point(1, 3 * k), 0.0);
    }
}

TEST(SurfaceDrawing, EachFlagDrawsItsPartInOrder)
{
    std::vector<float> net = expectedNet();

    std::vector<Call> points = {{"glPointSize", {5}},
                                {"glDisable", {GL_LIGHTING}},
                                {"glColor3f", {1, 1, 0}},
                                {"glBegin", {GL_POINTS}}};
    for (int s = 0; s < 3; s++)
        for (int t = 0; t < 24; t++)
            points.push_back(
                {"glVertex3fv",
                 {net[72 * s + 3 * t], net[72 * s + 3 * t + 1], net[72 * s + 3 * t + 2]}});
    points.push_back({"glEnd"});
    points.push_back({"glEnable", {GL_LIGHTING}});

    std::vector<Call> mesh = {{"glDisable", {GL_LIGHTING}}, {"glColor3f", {0, 1, 0}}};
    auto strip = [&](int s0, int t0, int ds, int dt, int n) {
        mesh.push_back({"glBegin", {GL_LINE_STRIP}});
        for (int k = 0; k < n; k++) {
            const float *p = &net[72 * (s0 + k * ds) + 3 * (t0 + k * dt)];
            mesh.push_back({"glVertex3fv", {p[0], p[1], p[2]}});
        }
        mesh.push_back({"glEnd"});
    };
    for (int s = 0; s < 3; s++)
        strip(s, 0, 0, 1, 24);
    for (int t = 0; t < 24; t++)
        strip(0, t, 1, 0, 3);
    mesh.push_back({"glEnable", {GL_LIGHTING}});

    // With no frustum set, nothing counts as near.
    const std::vector<Call> surface = {
        {"glGetFloatv", {GL_MODELVIEW_MATRIX}},
        {"glGetFloatv", {GL_PROJECTION_MATRIX}},
        {"gluBeginSurface", {}, {}, fake::renderer()},
        {"gluNurbsSurface", {6, 27, 72, 3, 3, 3, GL_MAP2_VERTEX_3}, {}, fake::renderer()},
        {"gluEndSurface", {}, {}, fake::renderer()},
    };

    EXPECT_EQ(drawWith({0, 0, 0}), std::vector<Call>{});
    EXPECT_EQ(drawWith({0, 1, 0}), points);
    EXPECT_EQ(drawWith({0, 0, 1}), mesh);
    std::vector<Call> all = surface;
    all.insert(all.end(), points.begin(), points.end());
    all.insert(all.end(), mesh.begin(), mesh.end());
    EXPECT_EQ(drawWith({1, 1, 1}), all);
}

TEST(SurfaceShape, RimPassesThroughEveryJunction)
{
    const BSplineSurface bowl = capturedBSpline();
    // Junction k doubles columns 3k-1 and 3k; uniform knots put the rim on it
    // at the knot between them.
    for (int k = 1; k <= 7; k++) {
        const Vec3 junction = bowl.rows[0][3 * k];
        expectNear(bowl.at(0, 3 * k - 1), junction, 1e-6);
        EXPECT_NEAR(std::hypot(junction.x, junction.z), 6.0, 1e-6);
        EXPECT_EQ(junction.y, 0.0);
    }
}

TEST(SurfaceShape, InnerScallopsAreStraightThenParabolic)
{
    const BSplineSurface bowl = capturedBSpline();
    for (int i = 1; i <= 6; i++) {
        const Vec3 j = bowl.rows[0][3 * i], m = bowl.rows[0][3 * i + 1],
                   j2 = bowl.rows[0][3 * i + 2];
        const Vec3 mid = bowl.at(0, 3 * i + 0.5);
        expectNear(mid, (1.0 / 8) * (j + 6.0 * m + j2), 1e-6);
        EXPECT_NEAR(std::hypot(mid.x, mid.z), 5.14, 0.005) << "sector " << i;
        EXPECT_NEAR(mid.y, -0.15, 1e-6) << "sector " << i;

        // Straight from J to the midpoint of J and M, and into J' likewise.
        expectNear(bowl.at(0, 3 * i), 0.5 * (j + m), 1e-6);
        const Vec3 onFirst = bowl.at(0, 3 * i - 0.5) - j;
        const Vec3 onLast = bowl.at(0, 3 * i + 1.5) - j2;
        EXPECT_LT(length(cross(onFirst, m - j)), 1e-6) << "sector " << i;
        EXPECT_LT(length(cross(onLast, m - j2)), 1e-6) << "sector " << i;
    }
}

TEST(SurfaceShape, BottomEdgeCollapsesAndRimEndsOnTheEndColumns)
{
    const BSplineSurface bowl = capturedBSpline();
    for (double t = 0; t <= 22; t += 0.25)
        expectNear(bowl.at(1, t), {0, -3, 0}, 1e-6);

    expectNear(bowl.at(0, 0), {0, 0, 6}, 0);
    const Vec3 end = bowl.at(0, 22);
    expectNear(end, bowl.rows[0][23], 1e-9);
    // The ring does not close: the end stops short of the start, on the -X side.
    EXPECT_LT(end.x, -3e-5);
    EXPECT_GT(end.x, -3.3e-5);
}
