// The viewer shell: start-up, the viewer state, each frame and the projection.
#include "viewer.h"

#include <GL/glut.h>

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

    // The bowl is modelled opening upward; show it upside down to the axes.
    glRotatef(180.0f, 1.0f, 0.0f, 0.0f);
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

int main(int argc, char **argv)
{
    // Position and size come after glutInit so that they win over any
    // geometry given on the command line.
    glutInit(&argc, argv);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(windowSize, windowSize);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow(windowTitle);
    initSurfaceModel();
    glutDisplayFunc(displayScene);
    glutReshapeFunc(reshapeView);
    initMenuAndState();
    glutKeyboardFunc(keyboardHandler);
    glutSpecialFunc(specialKeyHandler);
    glutMainLoop();
    return 0;
}
