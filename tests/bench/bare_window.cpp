// SPDX-License-Identifier: MIT
// The least a GLUT program with the viewer's display mode can do: open the
// same window and clear it. The yardstick for the viewer's start-up time.
#include <GL/glut.h>

static void display()
{
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutSwapBuffers();
}

int main(int argc, char **argv)
{
    glutInit(&argc, argv);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(400, 400);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("Morvo: quendal");
    glutDisplayFunc(display);
    glutMainLoop();
    return 0;
}
