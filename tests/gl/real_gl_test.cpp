// SPDX-License-Identifier: MIT
// The viewer's drawing code against the real GL, GLU and GLUT, in this
// process, on a private Xvfb server: what GL itself says about every frame
// and projection.
#include <gtest/gtest.h>

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "scene.h"
#include "surface.h"
#include "unculled.h"
#include "viewer.h"
#include "walk.h"
#include "xharness.h"

namespace {

// The whole of the viewport last set, from the frame just drawn.
std::vector<unsigned char> backBuffer()
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    std::vector<unsigned char> pixels(size_t(viewport[2]) * viewport[3] * 3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, viewport[2], viewport[3], GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

std::vector<unsigned char> lastFrame;

}  // namespace

// displayScene ends with the swap: its frame is read back just before.
extern "C" void glutSwapBuffers()
{
    using Swap = void (*)();
    static const Swap swap = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glutSwapBuffers"));
    lastFrame = backBuffer();
    swap();
}

// GLU draws the surface through GL's evaluators, so every point it samples
// passes through one of these. Past the budget the points are counted but not
// drawn, so that an exploding frame fails at once instead of running on. The
// budget is for a 400 x 400 window and grows with the window's area.
namespace {
const long budgetAt400 = 50000;
long pointBudget = budgetAt400;
long evaluatedPoints;
}  // namespace

extern "C" void glEvalCoord2f(GLfloat u, GLfloat v)
{
    using Eval = void (*)(GLfloat, GLfloat);
    static const Eval eval = reinterpret_cast<Eval>(dlsym(RTLD_NEXT, "glEvalCoord2f"));
    if (++evaluatedPoints <= pointBudget)
        eval(u, v);
}

extern "C" void glEvalMesh2(GLenum mode, GLint i1, GLint i2, GLint j1, GLint j2)
{
    using Mesh = void (*)(GLenum, GLint, GLint, GLint, GLint);
    static const Mesh mesh = reinterpret_cast<Mesh>(dlsym(RTLD_NEXT, "glEvalMesh2"));
    evaluatedPoints += long(i2 - i1 + 1) * (j2 - j1 + 1);
    if (evaluatedPoints <= pointBudget)
        mesh(mode, i1, i2, j1, j2);
}

namespace {

std::vector<GLenum> errors()
{
    std::vector<GLenum> found;
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError())
        found.push_back(e);
    return found;
}

// GLUT can be initialised once per process.
void openWindow()
{
    static bool open = false;
    if (open)
        return;
    open = true;
    xt::display();
    static char name[] = "real_gl_test";
    static char *argv[] = {name, nullptr};
    int argc = 1;
    glutInit(&argc, argv);
    glutInitWindowSize(400, 400);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow(name);
    glutDisplayFunc(displayScene);
    initSurfaceModel();
    initMenuAndState();
}

// Resizes the window: GLUT asks the server in its next loop, the round trip
// brings the server's answer in, and the loop after that takes it.
void resizeWindow(int size)
{
    glutReshapeWindow(size, size);
    glutMainLoopEvent();
    XSync(glXGetCurrentDisplay(), False);
    glutMainLoopEvent();
}

std::vector<double> projection()
{
    std::vector<double> m(16);
    glGetDoublev(GL_PROJECTION_MATRIX, m.data());
    return m;
}

}  // namespace

TEST(RealGl, OnlyAZeroHeightIsAnErrorAndItLeavesTheIdentity)
{
    openWindow();
    EXPECT_EQ(errors(), std::vector<GLenum>{});
    showMesh = showPoints = 1;

    struct Size {
        int w, h;
    };
    const Size sizes[] = {{400, 400}, {1, 1},    {0, 400},    {0, 0},        {400, 0},
                          {1, 5000},  {5000, 1}, {2, 3},      {16384, 9000}, {400, 200},
                          {260, 400}, {1, 0},    {8000, 8000}};
    for (const Size s : sizes) {
        SCOPED_TRACE(std::to_string(s.w) + " x " + std::to_string(s.h));
        reshapeView(s.w, s.h);
        const std::vector<GLenum> expected =
            s.w > 0 && s.h == 0 ? std::vector<GLenum>{GL_INVALID_VALUE} : std::vector<GLenum>{};
        EXPECT_EQ(errors(), expected);
        if (!expected.empty()) {
            std::vector<double> identity(16);
            identity[0] = identity[5] = identity[10] = identity[15] = 1;
            EXPECT_EQ(projection(), identity);
        }
        displayScene();
        EXPECT_EQ(errors(), std::vector<GLenum>{});
    }
    showMesh = showPoints = 0;
}

TEST(RealGl, TheFrustumKeepsTheHorizontalExtentFixed)
{
    openWindow();
    reshapeView(400, 200);
    const std::vector<double> m = projection();
    // Column-major: x scale 2n/(r-l), y scale 2n/(t-b), and the depth terms,
    // which GL keeps in single precision.
    EXPECT_FLOAT_EQ(m[0], 5.0);
    EXPECT_FLOAT_EQ(m[5], 10.0);
    EXPECT_FLOAT_EQ(m[10], -255.0 / 245.0);
    EXPECT_FLOAT_EQ(m[11], -1.0);
    EXPECT_FLOAT_EQ(m[14], -2.0 * 250 * 5 / 245.0);
    EXPECT_EQ(errors(), std::vector<GLenum>{});
}

namespace {

// The frame as drawn with nothing but GLU's own path-length sampling, the
// surface handed over exactly as the viewer hands it.
std::vector<unsigned char> pathLengthFrame(GLUnurbs *renderer)
{
    evaluatedPoints = 0;
    drawUnculledScene(renderer);
    glFinish();
    return backBuffer();
}

// How far in front of the eye the nearest and the farthest control point
// lie in the view.
struct Depths {
    double nearest, farthest;
};

Depths netDepths(const WalkState &s)
{
    static const std::vector<float> net = expectedNet();
    Depths d = {HUGE_VAL, -HUGE_VAL};
    for (int i = 0; i < 72; i++) {
        Vec3 p = rotate(netPoint(net, i / 24, i % 24), 180, 0);
        p = rotate(rotate(rotate(p, s.rz, 2), s.ry, 1), s.rx, 0);
        d.nearest = std::min(d.nearest, s.distance - p.z);
        d.farthest = std::max(d.farthest, s.distance - p.z);
    }
    return d;
}

long peakResidentKb()
{
    FILE *f = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kb = std::atol(line + 6);
    if (f)
        std::fclose(f);
    return kb;
}

long framePoints(int size)
{
    reshapeView(size, size);
    evaluatedPoints = 0;
    displayScene();
    glFinish();
    return evaluatedPoints;
}

// Pixels not black in the square frame's quarter farthest from its origin.
long litPixelsInLastQuarter(const std::vector<unsigned char> &frame, int size)
{
    long n = 0;
    for (int y = size / 2; y < size; y++)
        for (int x = size / 2; x < size; x++) {
            const unsigned char *p = &frame[3 * (size_t(y) * size + x)];
            n += p[0] || p[1] || p[2];
        }
    return n;
}

}  // namespace

// The work of a frame is the points GLU evaluates, counted, not timed, so
// that a loaded machine cannot fail it. Views with some control point nearer
// than the near plane must be sampled at fixed steps, whatever the window's
// size; with the whole net there, nothing is in view and nothing is drawn;
// and with the whole net well in front, GLU's own sampling is sound and the
// frame must be exactly the one it draws.
TEST(RealGl, EveryReachableViewDrawsBoundedWorkAndFarViewsAsGluSamplesThem)
{
    openWindow();
    GLUnurbs *pathLength = newUnculledRenderer();
    framePoints(400);
    const long startKb = peakResidentKb();

    long busiest = 0;
    int compared = 0, resized = 0, empty = 0;
    for (const WalkState &s : walkStates(100)) {
        walkTo(s);
        const std::string view = "the view at distance " + std::to_string(s.distance) +
                                 ", angles " + std::to_string(s.rx) + " " + std::to_string(s.ry) +
                                 " " + std::to_string(s.rz);
        // An exploding tessellation may never return: the hang guard names the view.
        xt::doing("drawing " + view);
        SCOPED_TRACE(view);
        const Depths d = netDepths(s);
        const long points = framePoints(400);
        if (points > pointBudget) {
            ADD_FAILURE() << points << " points evaluated in a 400 x 400 frame, over the bound of "
                          << pointBudget;
            break;
        }
        busiest = std::max(busiest, points);
        if (d.nearest < 5) {
            resized++;
            EXPECT_EQ(framePoints(1600), points) << "points evaluated at 1600 x 1600 and 400 x 400";
        }
        if (d.farthest < 5) {
            empty++;
            EXPECT_EQ(points, 0)
                << "points evaluated with the whole net nearer than the near plane";
        }
        if (d.nearest >= 6) {
            compared++;
            EXPECT_EQ(differingPixels(lastFrame, pathLengthFrame(pathLength)), 0)
                << "pixels that differ from GLU's own sampling";
        }
    }
    gluDeleteNurbsRenderer(pathLength);
    EXPECT_LT(peakResidentKb() - startKb, 512 * 1024);
    EXPECT_TRUE(busiest > 0 && compared >= 100 && resized >= 100 && empty >= 50)
        << busiest << " points in the busiest frame; " << compared << " views compared, " << resized
        << " resized, " << empty << " empty";
}

// At 400 x 400 GLU draws every patch whole, so culling can only drop whole
// patches. In a large window with the bowl filling it, GLU cuts the patches
// into pieces and culls those outside the view one by one: the frame must
// still be the one GLU draws unculled.
TEST(RealGl, FarViewsFillingALargeWindowAsGluSamplesThemUnculled)
{
    const int size = 1600, wanted = 8;
    openWindow();
    resizeWindow(size);
    ASSERT_EQ(glutGet(GLUT_WINDOW_WIDTH), size) << "the window did not grow";
    pointBudget = budgetAt400 * (size / 400) * (size / 400);
    GLUnurbs *unculled = newUnculledRenderer();

    int compared = 0, culledViews = 0;
    long lit = 0;
    for (const WalkState &s : walkStates(100)) {
        if (compared == wanted || s.distance != 10 || netDepths(s).nearest < 6)
            continue;
        walkTo(s);
        compared++;
        xt::doing("drawing the view at distance " + std::to_string(s.distance) + ", angles " +
                  std::to_string(s.rx) + " " + std::to_string(s.ry) + " " + std::to_string(s.rz) +
                  " in " + std::to_string(size) + " x " + std::to_string(size));
        const long points = framePoints(size);
        const std::vector<unsigned char> frame = lastFrame;
        const long differing = differingPixels(frame, pathLengthFrame(unculled));
        EXPECT_EQ(differing, 0) << differing << " pixels of " << size << " x " << size
                                << " differ from GLU's own unculled sampling at the view distance "
                                << s.distance << ", angles " << s.rx << " " << s.ry << " " << s.rz;
        EXPECT_LE(evaluatedPoints, pointBudget) << "points GLU evaluates unculled";
        culledViews += points < evaluatedPoints;
        lit += litPixelsInLastQuarter(frame, size);
    }
    gluDeleteNurbsRenderer(unculled);
    pointBudget = budgetAt400;
    resizeWindow(400);
    reshapeView(400, 400);
    // Views where culling saved points, and a frame drawn beyond the
    // screen's 800 x 600, or the comparison says nothing.
    EXPECT_TRUE(compared == wanted && culledViews > 0 && lit > 0)
        << compared << " views compared, " << culledViews << " with fewer points culled, " << lit
        << " lit pixels in the frames' far quarters";
}
