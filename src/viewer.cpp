// SPDX-License-Identifier: MIT
// The viewer shell: start-up, the viewer state, each frame and the projection.
#include "viewer.h"

#ifdef __APPLE__
#include <GLUT/glut.h>
#else
#include <GL/glut.h>
#endif
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef QUENDAL_X11
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#endif

#include <csignal>

#include "interaction.h"
#include "surface.h"

float viewDistance = 40.0f;
float rotationX = 20.0f;
float rotationY = -30.0f;
float rotationZ = 0.0f;
int showSurface = 1;
int showMesh = 0;
int showPoints = 0;

static const char windowTitle[] = "Morvo: quendal";
static const int windowSize = 400;

static const GLfloat frontDiffuse[] = {0.2f, 0.9f, 1.0f, 1.0f};
static const GLfloat frontSpecular[] = {0.5f, 1.0f, 1.0f, 1.0f};
static const GLfloat frontShininess[] = {100.0f};

static const float axisLength = 30.0f;
// The bowl is modelled opening upward; it is shown upside down to the axes.
static const float surfaceTurn = 180.0f;

static const GLdouble frustumHalfWidth = 1.0;
static const GLdouble frustumNear = 5.0;
static const GLdouble frustumFar = 250.0;

void initMenuAndState()
{
    buildPopupMenu();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
}

// Lines are drawn unlit so that they keep their colour whatever the light.
void drawAxes(float length)
{
    glDisable(GL_LIGHTING);
    glBegin(GL_LINES);
    glColor3f(1.0f, 1.0f, 1.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, length, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(length, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, length);
    glEnd();
    glEnable(GL_LIGHTING);
}

void displayScene()
{
    glPushMatrix();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, frontDiffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, frontSpecular);
    glMaterialfv(GL_FRONT, GL_SHININESS, frontShininess);

    glTranslatef(0.0f, 0.0f, -viewDistance);
    glRotatef(rotationX, 1.0f, 0.0f, 0.0f);
    glRotatef(rotationY, 0.0f, 1.0f, 0.0f);
    glRotatef(rotationZ, 0.0f, 0.0f, 1.0f);
    drawAxes(axisLength);

    glRotatef(surfaceTurn, 1.0f, 0.0f, 0.0f);
    drawSurfaceModel();

    glPopMatrix();
    glFlush();
    glutSwapBuffers();
}

// The horizontal extent at the near plane is fixed, and the vertical one
// follows the window's shape, so the picture is never stretched.
void reshapeView(int width, int height)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    float aspect = 1.0f;
    if (width > 0)
        aspect = static_cast<float>(height * 1.0 / width);
    glFrustum(-frustumHalfWidth, frustumHalfWidth, -aspect, aspect, frustumNear, frustumFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// Windows needs neither guard: its window system takes no descriptor a
// closed stream left free, and a vanished reader fails the write, no signal.
#ifndef _WIN32
// A standard descriptor closed at start would go to the next file opened,
// the X connection included, and the help text or a library's warning would
// then be written into the X protocol. Each closed one gets /dev/null: open
// takes the lowest free number, which is this one.
static void openClosedStandardStreams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (fcntl(fd, F_GETFD) == -1)
            open("/dev/null", O_RDWR);
}
#endif

#ifdef QUENDAL_X11
// Desktops match a running window to its desktop entry: GNOME Shell by
// WM_CLASS, KWin only by _KDE_NET_WM_DESKTOP_FILE, the entry's name without
// ".desktop"; and name its process by _NET_WM_PID. GLUT sets the first two
// not at all, and the last wrongly on a 64-bit big-endian machine (s390x),
// so it is set again here, as the 32-bit property's long that Xlib takes.
// GLUT's window is the drawable of the context it has just made current.
static void setWindowOwnerHints()
{
    Display *display = glXGetCurrentDisplay();
    const Window window = glXGetCurrentDrawable();
    // Instance and class alike, as the desktop entry's StartupWMClass names it.
    char windowClass[] = "quendal";
    XClassHint hint = {windowClass, windowClass};
    XSetClassHint(display, window, &hint);
    const Atom desktopFile = XInternAtom(display, "_KDE_NET_WM_DESKTOP_FILE", False);
    const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, window, desktopFile, utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(windowClass),
                    static_cast<int>(sizeof windowClass - 1));
    const auto pid = static_cast<unsigned long>(getpid());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(&pid), 1);
}
#endif

int main(int argc, char **argv)
{
#ifndef _WIN32
    openClosedStandardStreams();
    // A reader of the help text that goes away must not take the viewer with
    // it: the failed write is dropped instead.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Position and size come after glutInit so that they win over any
    // geometry given on the command line.
    glutInit(&argc, argv);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(windowSize, windowSize);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow(windowTitle);
#ifdef QUENDAL_X11
    setWindowOwnerHints();
#endif
    initSurfaceModel();
    glutDisplayFunc(displayScene);
    glutReshapeFunc(reshapeView);
    initMenuAndState();
    glutKeyboardFunc(keyboardHandler);
    glutSpecialFunc(specialKeyHandler);
    glutMainLoop();
    return 0;
}
