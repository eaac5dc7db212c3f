// SPDX-License-Identifier: MIT
// Start-up order, the frame and the projection, read back from the fake.
#include <X11/Xatom.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "fake_gl.h"
#include "interaction.h"
#include "net.h"
#include "surface.h"
#include "viewer.h"

int quendalMain(int argc, char **argv);

using fake::Call;

namespace {

std::vector<Call> axesCalls(double len)
{
    return {{"glDisable", {GL_LIGHTING}}, {"glBegin", {GL_LINES}},
            {"glColor3f", {1, 1, 1}},     {"glVertex3f", {0, 0, 0}},
            {"glVertex3f", {0, len, 0}},  {"glVertex3f", {0, 0, 0}},
            {"glVertex3f", {len, 0, 0}},  {"glVertex3f", {0, 0, 0}},
            {"glVertex3f", {0, 0, len}},  {"glEnd"},
            {"glEnable", {GL_LIGHTING}}};
}

std::vector<Call> frameCalls(std::vector<Call> model)
{
    std::vector<Call> frame = {
        {"glPushMatrix"},
        {"glClearColor", {0, 0, 0, 1}},
        {"glClear", {GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT}},
        {"glMaterialfv", {GL_FRONT, GL_DIFFUSE, 0.2f, 0.9f, 1.0f, 1.0f}},
        {"glMaterialfv", {GL_FRONT, GL_SPECULAR, 0.5f, 1.0f, 1.0f, 1.0f}},
        {"glMaterialfv", {GL_FRONT, GL_SHININESS, 100.0f}},
        {"glTranslatef", {0, 0, -40.0f}},
        {"glRotatef", {20.0f, 1, 0, 0}},
        {"glRotatef", {-30.0f, 0, 1, 0}},
        {"glRotatef", {0.0f, 0, 0, 1}},
    };
    for (const Call &c : axesCalls(30.0))
        frame.push_back(c);
    frame.push_back({"glRotatef", {180, 1, 0, 0}});
    for (const Call &c : model)
        frame.push_back(c);
    frame.push_back({"glPopMatrix"});
    frame.push_back({"glFlush"});
    frame.push_back({"glutSwapBuffers"});
    return frame;
}

std::vector<Call> reshapeCalls(int w, int h, double aspect)
{
    return {{"glViewport", {0, 0, double(w), double(h)}},
            {"glMatrixMode", {GL_PROJECTION}},
            {"glLoadIdentity"},
            {"glFrustum", {-1, 1, -aspect, aspect, 5, 250}},
            {"glMatrixMode", {GL_MODELVIEW}},
            {"glLoadIdentity"}};
}

// A frame as GLUT draws it: after the window's first reshape.
void displayInWindow(int width, int height)
{
    initSurfaceModel();
    fake::reset();
    reshapeView(width, height);
    fake::calls.clear();
    displayScene();
}

}  // namespace

TEST(Startup, RunsTheSequenceInOrderAndLeavesTheCommandLineToGlut)
{
    fake::reset();
    char arg0[] = "quendal", arg1[] = "-geometry", arg2[] = "120x80+50+60";
    char *argv[] = {arg0, arg1, arg2, nullptr};
    EXPECT_EQ(quendalMain(3, argv), 0);

    const std::vector<Call> expected = {
        {"glutInit", {3}, "quendal -geometry 120x80+50+60"},
        {"glutInitWindowPosition", {0, 0}},
        {"glutInitWindowSize", {400, 400}},
        {"glutInitDisplayMode", {GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH}},
        {"glutCreateWindow", {}, "Morvo: quendal"},
        {"glXGetCurrentDisplay"},
        {"glXGetCurrentDrawable"},
        {"XSetClassHint", {double(fake::window)}, "quendal.quendal", fake::display()},
        {"XInternAtom", {False}, "_KDE_NET_WM_DESKTOP_FILE", fake::display()},
        {"XInternAtom", {False}, "UTF8_STRING", fake::display()},
        {"XChangeProperty",
         {double(fake::window), double(fake::firstAtom), double(fake::firstAtom + 1), 8,
          PropModeReplace},
         "quendal",
         fake::display()},
        {"XInternAtom", {False}, "_NET_WM_PID", fake::display()},
        {"XChangeProperty",
         {double(fake::window), double(fake::firstAtom + 2), XA_CARDINAL, 32, PropModeReplace,
          double(getpid())},
         {},
         fake::display()},
        {"glEnable", {GL_AUTO_NORMAL}},
        {"glEnable", {GL_NORMALIZE}},
        {"gluNewNurbsRenderer"},
        {"gluNurbsProperty", {GLU_SAMPLING_TOLERANCE, 50}, {}, fake::renderer()},
        {"gluNurbsProperty", {GLU_CULLING, GL_TRUE}, {}, fake::renderer()},
        {"gluNurbsProperty", {GLU_DISPLAY_MODE, GLU_FILL}, {}, fake::renderer()},
        {"gluNewNurbsRenderer"},
        {"gluNurbsProperty", {GLU_SAMPLING_METHOD, GLU_DOMAIN_DISTANCE}, {}, fake::renderer(1)},
        {"gluNurbsProperty", {GLU_U_STEP, 32}, {}, fake::renderer(1)},
        {"gluNurbsProperty", {GLU_V_STEP, 10}, {}, fake::renderer(1)},
        {"gluNurbsProperty", {GLU_CULLING, GL_TRUE}, {}, fake::renderer(1)},
        {"gluNurbsProperty", {GLU_DISPLAY_MODE, GLU_FILL}, {}, fake::renderer(1)},
        {"glutDisplayFunc"},
        {"glutReshapeFunc"},
        {"glutCreateMenu"},
        {"glutAddMenuEntry", {0}, "Quendal"},
        {"glutAddMenuEntry", {1}, "Malla"},
        {"glutAddMenuEntry", {2}, "Puntos"},
        {"glutAddMenuEntry", {3}, "Salir"},
        {"glutAttachMenu", {GLUT_RIGHT_BUTTON}},
        {"glEnable", {GL_DEPTH_TEST}},
        {"glEnable", {GL_LIGHTING}},
        {"glEnable", {GL_LIGHT0}},
        {"glutKeyboardFunc"},
        {"glutSpecialFunc"},
        {"glutMainLoop"},
    };
    EXPECT_EQ(fake::calls, expected);
    EXPECT_EQ(fake::callbacks.display, &displayScene);
    EXPECT_EQ(fake::callbacks.reshape, &reshapeView);
    EXPECT_EQ(fake::callbacks.menu, &menuHandler);
    EXPECT_EQ(fake::callbacks.keyboard, &keyboardHandler);
    EXPECT_EQ(fake::callbacks.special, &specialKeyHandler);
}

TEST(Startup, ViewerStateStartsAtTheInitialView)
{
    EXPECT_EQ(viewDistance, 40.0f);
    EXPECT_EQ(rotationX, 20.0f);
    EXPECT_EQ(rotationY, -30.0f);
    EXPECT_EQ(rotationZ, 0.0f);
    EXPECT_EQ(showSurface, 1);
    EXPECT_EQ(showMesh, 0);
    EXPECT_EQ(showPoints, 0);
}

TEST(Frame, DrawsTheWholeInitialFrameInOrder)
{
    displayInWindow(400, 400);

    const std::vector<Call> surface = {
        {"glGetFloatv", {GL_MODELVIEW_MATRIX}},
        {"glGetFloatv", {GL_PROJECTION_MATRIX}},
        {"gluBeginSurface", {}, {}, fake::renderer()},
        {"gluNurbsSurface", {6, 27, 72, 3, 3, 3, GL_MAP2_VERTEX_3}, {}, fake::renderer()},
        {"gluEndSurface", {}, {}, fake::renderer()},
    };
    EXPECT_EQ(fake::calls, frameCalls(surface));

    EXPECT_EQ(fake::lastSurface.sKnots, expectedSKnots());
    EXPECT_EQ(fake::lastSurface.tKnots, expectedTKnots());

    // Bit for bit, every one of the 216 coordinates handed to GLU.
    const std::vector<float> net = expectedNet();
    ASSERT_EQ(fake::lastSurface.control.size(), 216u);
    for (size_t i = 0; i < net.size(); i++)
        EXPECT_EQ(fake::lastSurface.control[i], net[i]) << "coordinate " << i;
}

TEST(Frame, PlacesTheSceneFromTheViewerState)
{
    const float saved[] = {viewDistance, rotationX, rotationY, rotationZ};
    viewDistance = -12.5f;
    rotationX = 365.0f;
    rotationY = 7.0f;
    rotationZ = -45.0f;
    displayInWindow(400, 400);
    viewDistance = saved[0];
    rotationX = saved[1];
    rotationY = saved[2];
    rotationZ = saved[3];

    const std::vector<Call> rotations = fake::callsNamed("glRotatef");
    ASSERT_EQ(rotations.size(), 4u);
    EXPECT_EQ(fake::callsNamed("glTranslatef")[0], Call("glTranslatef", {0, 0, 12.5}));
    EXPECT_EQ(rotations[0], Call("glRotatef", {365, 1, 0, 0}));
    EXPECT_EQ(rotations[1], Call("glRotatef", {7, 0, 1, 0}));
    EXPECT_EQ(rotations[2], Call("glRotatef", {-45, 0, 0, 1}));
    EXPECT_EQ(rotations[3], Call("glRotatef", {180, 1, 0, 0}));
    // The eye is inside the bowl: the renderer for near views draws it.
    EXPECT_EQ(fake::callsNamed("gluNurbsSurface")[0].handle, fake::renderer(1));
}

// The nearest control point: straight on, the rim at 6 in front of the
// bowl's centre; turned 90 about X, the bottom point at 3; turned about Z
// too, the rim again. Near means nearer than the near plane (5) and 0.5.
TEST(Frame, ChoosesTheNearRendererFromTheTransformDrawnWith)
{
    struct Case {
        float distance, rx, rz;
        int width, height;
        bool near;
    };
    const Case cases[] = {{11.4f, 0, 0, 400, 400, true},   {11.6f, 0, 0, 400, 400, false},
                          {11.6f, 0, 0, 1600, 300, false}, {8.4f, 90, 0, 400, 400, true},
                          {8.6f, 90, 0, 400, 400, false},  {8.6f, 90, 90, 400, 400, true},
                          {11.6f, 90, 90, 400, 400, false}};
    const float saved[] = {viewDistance, rotationX, rotationY, rotationZ};
    for (const Case &c : cases) {
        viewDistance = c.distance;
        rotationX = c.rx;
        rotationY = 0;
        rotationZ = c.rz;
        displayInWindow(c.width, c.height);
        EXPECT_EQ(fake::callsNamed("gluNurbsSurface").at(0).handle, fake::renderer(c.near ? 1 : 0))
            << "distance " << c.distance << ", angles " << c.rx << " 0 " << c.rz << ", window "
            << c.width << " x " << c.height;
    }
    viewDistance = saved[0];
    rotationX = saved[1];
    rotationY = saved[2];
    rotationZ = saved[3];
}

TEST(Frame, AxesTakeTheirLengthAndLeaveLightingOn)
{
    fake::reset();
    drawAxes(2.5f);
    EXPECT_EQ(fake::calls, axesCalls(2.5));
}

TEST(Reshape, FitsTheFrustumToTheWindowShape)
{
    struct Case {
        int w, h;
        double aspect;
    };
    // Only the width is guarded: a height of 0 still reaches glFrustum.
    const Case cases[] = {{400, 400, 1.0}, {400, 200, 0.5}, {260, 400, float(400.0 / 260)},
                          {0, 300, 1.0},   {-4, 300, 1.0},  {400, 0, 0.0}};
    for (const Case &c : cases) {
        fake::reset();
        reshapeView(c.w, c.h);
        EXPECT_EQ(fake::calls, reshapeCalls(c.w, c.h, c.aspect)) << c.w << " x " << c.h;
    }
}
