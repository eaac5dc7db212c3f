// SPDX-License-Identifier: MIT
// The pop-up menu and the keyboard. The handlers only change the viewer
// state and ask for a redraw; drawing happens in the display handler.
#include "interaction.h"

#ifdef __APPLE__
#include <GLUT/glut.h>
#else
#include <GL/glut.h>
#endif

#include <cstdio>
#include <cstdlib>

#include "viewer.h"

static const int menuSurface = 0;
static const int menuMesh = 1;
static const int menuPoints = 2;
static const int menuExit = 3;

static const unsigned char keyEscape = 27;

static const double step = 5.0;

static const char *const helpLines[] = {
    "\n Morvo \t\t\t\t\t\tCurso 2000-2001",
    "\n Dpto. Talvenor",
    "\n Brisquel\t\tUniv. de Varnesca ",
    "\n Quendal",
    "\n",
    "\n Escape: Salir",
    "\n\n\n",
};

void buildPopupMenu()
{
    glutCreateMenu(menuHandler);
    glutAddMenuEntry("Quendal", menuSurface);
    glutAddMenuEntry("Malla", menuMesh);
    glutAddMenuEntry("Puntos", menuPoints);
    glutAddMenuEntry("Salir", menuExit);
    glutAttachMenu(GLUT_RIGHT_BUTTON);
}

void menuHandler(int value)
{
    switch (value) {
    case menuSurface:
        showSurface = 1 - showSurface;
        break;
    case menuMesh:
        showMesh = 1 - showMesh;
        break;
    case menuPoints:
        showPoints = 1 - showPoints;
        break;
    case menuExit:
        exit(0);
    default:
        break;
    }
    // Something must always be drawn: with mesh and points off, the surface.
    if (showMesh + showPoints == 0)
        showSurface = 1;
    glutPostRedisplay();
}

// Flushed at once so that a reader on a pipe sees the text while the viewer
// runs, not only when it exits.
static void printHelp()
{
    for (const char *line : helpLines)
        fputs(line, stdout);
    fflush(stdout);
}

static void change(float &value, double amount) { value = static_cast<float>(value + amount); }

void keyboardHandler(unsigned char key, int /*x*/, int /*y*/)
{
    switch (key) {
    case keyEscape:
        exit(0);
    case '+':
        change(viewDistance, -step);
        break;
    case '-':
        change(viewDistance, step);
        break;
    case 'H':
    case 'h':
        printHelp();
        break;
    case 'Z':
        change(rotationZ, -step);
        break;
    case 'z':
        change(rotationZ, step);
        break;
    default:
        return;
    }
    glutPostRedisplay();
}

void specialKeyHandler(int key, int /*x*/, int /*y*/)
{
    switch (key) {
    case GLUT_KEY_LEFT:
        change(rotationY, step);
        break;
    case GLUT_KEY_UP:
        change(rotationX, step);
        break;
    case GLUT_KEY_RIGHT:
        change(rotationY, -step);
        break;
    case GLUT_KEY_DOWN:
        change(rotationX, -step);
        break;
    default:
        return;
    }
    glutPostRedisplay();
}
