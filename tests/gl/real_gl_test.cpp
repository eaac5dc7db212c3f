// SPDX-License-Identifier: MIT
// The viewer's drawing code against the real GL, GLU and GLUT, in this
// process, on a private Xvfb server: what GL itself says about every frame
// and projection.
#include <gtest/gtest.h>

#include <GL/glut.h>
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "scene.h"
#include "surface.h"
#include "viewer.h"
#include "walk.h"
#include "xharness.h"

namespace {

std::vector<unsigned char> backBuffer()
{
    std::vector<unsigned char> pixels(400 * 400 * 3);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, 400, 400, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
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
    initSurfaceModel();
    initMenuAndState();
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
    static std::vector<float> net = expectedNet(), sKnots = expectedSKnots(),
                              tKnots = expectedTKnots();
    const GLfloat diffuse[] = {0.2f, 0.9f, 1.0f, 1.0f}, specular[] = {0.5f, 1.0f, 1.0f, 1.0f},
                  shininess[] = {100.0f};
    glPushMatrix();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    glMaterialfv(GL_FRONT, GL_SHININESS, shininess);
    glTranslatef(0, 0, -viewDistance);
    glRotatef(rotationX, 1, 0, 0);
    glRotatef(rotationY, 0, 1, 0);
    glRotatef(rotationZ, 0, 0, 1);
    drawAxes(30);
    glRotatef(180, 1, 0, 0);
    gluBeginSurface(renderer);
    gluNurbsSurface(renderer, 6, sKnots.data(), 27, tKnots.data(), 72, 3, net.data(), 3, 3,
                    GL_MAP2_VERTEX_3);
    gluEndSurface(renderer);
    glPopMatrix();
    glFinish();
    return backBuffer();
}

// Every control point at least this far in front of the eye: GLU's own
// sampling is sound there, and the viewer must draw exactly what it gives.
bool netWellInFront(const WalkState &s)
{
    const std::vector<float> net = expectedNet();
    for (int i = 0; i < 72; i++) {
        Vec3 p = rotate(netPoint(net, i / 24, i % 24), 180, 0);
        p = rotate(rotate(rotate(p, s.rz, 2), s.ry, 1), s.rx, 0);
        if (s.distance - p.z < 6)
            return false;
    }
    return true;
}

// An exploding tessellation never returns: the watchdog names the view.
char viewInProgress[64];
void frameTooSlow(int)
{
    const char message[] = "a frame took longer than the watchdog allows, at the view ";
    write(STDERR_FILENO, message, sizeof message - 1);
    write(STDERR_FILENO, viewInProgress, std::strlen(viewInProgress));
    _exit(1);
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

}  // namespace

TEST(RealGl, EveryReachableViewDrawsInBoundedTimeAndFarViewsAsGluSamplesThem)
{
    openWindow();
    reshapeView(400, 400);
    GLUnurbs *pathLength = gluNewNurbsRenderer();
    gluNurbsProperty(pathLength, GLU_SAMPLING_TOLERANCE, 50);
    gluNurbsProperty(pathLength, GLU_DISPLAY_MODE, GLU_FILL);
    displayScene();
    const long startKb = peakResidentKb();

    std::signal(SIGALRM, frameTooSlow);
    double slowestMs = 0;
    int compared = 0;
    for (const WalkState &s : walkStates(100)) {
        walkTo(s);
        std::snprintf(viewInProgress, sizeof viewInProgress, "distance %d, angles %d %d %d\n",
                      s.distance, s.rx, s.ry, s.rz);
        SCOPED_TRACE(viewInProgress);
        alarm(20);
        const auto start = std::chrono::steady_clock::now();
        displayScene();
        glFinish();
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        alarm(0);
        slowestMs = std::max(slowestMs, ms);
        if (netWellInFront(s)) {
            compared++;
            EXPECT_TRUE(lastFrame == pathLengthFrame(pathLength));
        }
    }
    gluDeleteNurbsRenderer(pathLength);
    EXPECT_LT(slowestMs, 250);
    EXPECT_LT(peakResidentKb() - startKb, 512 * 1024);
    EXPECT_GE(compared, 100);
}
