// The viewer's drawing code against the real GL, GLU and GLUT, in this
// process, on a private Xvfb server: what GL itself says about every frame
// and projection.
#include <gtest/gtest.h>

#include <GL/glut.h>

#include <vector>

#include "surface.h"
#include "viewer.h"
#include "xharness.h"

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
