// SPDX-License-Identifier: MIT
// The surface model: a quadratic B-spline bowl over a 3 x 24 control net.
#include "surface.h"

#ifdef __APPLE__
#include <GLUT/glut.h>
#else
#include <GL/glut.h>
#endif

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>

#include "viewer.h"

static const int netRows = 3;
static const int netColumns = 24;
static const int pointCoordinates = 3;
static const int surfaceOrder = 3;
static const int sKnotCount = 6;
static const int tKnotCount = 27;
static const int sStride = netColumns * pointCoordinates;
static const int tStride = pointCoordinates;

// Row 0 is the rim ring, row 1 the inner ring, row 2 the bottom point.
static GLfloat controlPoints[netRows][netColumns][pointCoordinates];

static GLfloat sKnots[sKnotCount] = {0, 0, 0, 1, 1, 1};
static GLfloat tKnots[tKnotCount] = {0,  0,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                     12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 22, 22};

static GLUnurbs *nurbsRenderer;
// Draws the surface instead of nurbsRenderer while the net comes near the eye.
static GLUnurbs *nearRenderer;

static const int sectorCount = 8;
static const float rimRadius = 6.0f;
static const float scallopRadius = rimRadius - 1.0f;
static const float innerRadius = 3.0f;
static const double angleStep = 0.7853975;
static const double halfStep = 0.39269875;
static const float rimHeight = 0.0f;
static const float scallopHeight = -0.2f;
static const float innerJunctionHeight = -2.8f;
static const float innerMiddleHeight = -2.0f;
static const GLfloat bottomPoint[pointCoordinates] = {0.0f, -3.0f, 0.0f};

static const GLfloat samplingTolerance = 50.0f;
// GLU's path-length sampling projects the control points, so one near or
// behind the eye plane makes the work explode. While any control point is
// nearer than the near plane plus this margin, nearRenderer samples at fixed
// parametric steps instead: some 0.2 model units along s and along t, about 40
// pixels at the near plane, and patches outside the view are culled.
static const GLfloat nearSamplingMargin = 0.5f;
static const GLfloat nearSStep = 32.0f;
static const GLfloat nearTStep = 10.0f;
static const GLfloat controlPointSize = 5.0f;

static void setPoint(int row, int column, float x, float y, float z)
{
    controlPoints[row][column][0] = x;
    controlPoints[row][column][1] = y;
    controlPoints[row][column][2] = z;
}

// Fills one profile column at the given angle. The rim's x takes the sine of
// the angle as computed; everything else takes the angle stored as a float.
// Every sine and cosine is taken in double precision.
static void setColumn(int column, double angle, float rim, float rimY, float innerY)
{
    const auto storedAngle = static_cast<float>(angle);
    const double a = storedAngle;
    setPoint(0, column, static_cast<float>(rim * std::sin(angle)), rimY,
             static_cast<float>(rim * std::cos(a)));
    setPoint(1, column, static_cast<float>(innerRadius * std::sin(a)), innerY,
             static_cast<float>(innerRadius * std::cos(a)));
    setPoint(2, column, bottomPoint[0], bottomPoint[1], bottomPoint[2]);
}

// Each sector has a junction column at both ends and a middle column that
// pulls the rim in and down; neighbouring sectors share the junction angle,
// so every inner junction carries a doubled control point.
static void buildControlNet()
{
    for (int i = 0; i < sectorCount; i++) {
        setColumn(3 * i, i * angleStep, rimRadius, rimHeight, innerJunctionHeight);
        setColumn((3 * i) + 1, (i * angleStep) + halfStep, scallopRadius, scallopHeight,
                  innerMiddleHeight);
        setColumn((3 * i) + 2, (i + 1) * angleStep, rimRadius, rimHeight, innerJunctionHeight);
    }
}

void initSurfaceModel()
{
    buildControlNet();
    // The evaluator's normals feed the lighting and must be unit length.
    glEnable(GL_AUTO_NORMAL);
    glEnable(GL_NORMALIZE);
    nurbsRenderer = gluNewNurbsRenderer();
    gluNurbsProperty(nurbsRenderer, GLU_SAMPLING_TOLERANCE, samplingTolerance);
    // In a large window most of what GLU samples of a near enough view lies
    // outside it: culling skips each patch, and each piece GLU cuts a patch
    // into, whose control hull the view cannot show.
    gluNurbsProperty(nurbsRenderer, GLU_CULLING, GL_TRUE);
    gluNurbsProperty(nurbsRenderer, GLU_DISPLAY_MODE, GLU_FILL);
    // A renderer of its own, because GLU's path-length sampling does not come
    // back on a renderer once it has been switched to domain distance.
    nearRenderer = gluNewNurbsRenderer();
    gluNurbsProperty(nearRenderer, GLU_SAMPLING_METHOD, GLU_DOMAIN_DISTANCE);
    gluNurbsProperty(nearRenderer, GLU_U_STEP, nearSStep);
    gluNurbsProperty(nearRenderer, GLU_V_STEP, nearTStep);
    gluNurbsProperty(nearRenderer, GLU_CULLING, GL_TRUE);
    gluNurbsProperty(nearRenderer, GLU_DISPLAY_MODE, GLU_FILL);
}

static const int matrixSize = 16;

// The near plane's distance, read back from the frustum GL projects with:
// its depth terms are -(f + n) / (f - n) and -2 f n / (f - n). A projection
// without perspective, such as the identity a refused frustum leaves, has no
// eye plane for the net to come near.
static GLfloat nearPlaneDistance()
{
    GLfloat p[matrixSize];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    if (p[11] == 0.0f)
        return -HUGE_VALF;
    return p[14] / (p[10] - 1.0f);
}

// How far in front of the eye the nearest control point lies, under the
// modelview matrix the surface is drawn with.
static GLfloat nearestControlPointDepth()
{
    GLfloat m[matrixSize];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    // A point's depth is minus its eye-space z, the matrix's third row.
    const auto nearer = [&m](GLfloat nearest, const GLfloat *p) {
        return std::min(nearest, -((m[2] * p[0]) + (m[6] * p[1]) + (m[10] * p[2]) + m[14]));
    };
    GLfloat nearest = HUGE_VALF;
    for (const auto &row : controlPoints)
        nearest = std::accumulate(std::begin(row), std::end(row), nearest, nearer);
    return nearest;
}

static void drawSurface()
{
    const GLfloat nearest = nearestControlPointDepth();
    const GLfloat nearPlane = nearPlaneDistance();
    GLUnurbs *renderer = nearest < nearPlane + nearSamplingMargin ? nearRenderer : nurbsRenderer;
    gluBeginSurface(renderer);
    gluNurbsSurface(renderer, sKnotCount, sKnots, tKnotCount, tKnots, sStride, tStride,
                    &controlPoints[0][0][0], surfaceOrder, surfaceOrder, GL_MAP2_VERTEX_3);
    gluEndSurface(renderer);
}

static void drawControlPoints()
{
    glPointSize(controlPointSize);
    glDisable(GL_LIGHTING);
    glColor3f(1.0f, 1.0f, 0.0f);
    glBegin(GL_POINTS);
    for (const auto &row : controlPoints)
        for (const GLfloat *point : row)
            glVertex3fv(point);
    glEnd();
    glEnable(GL_LIGHTING);
}

// Rows are left open: the ring does not close, so nothing joins the last
// column back to the first.
static void drawControlMesh()
{
    glDisable(GL_LIGHTING);
    glColor3f(0.0f, 1.0f, 0.0f);
    for (const auto &row : controlPoints) {
        glBegin(GL_LINE_STRIP);
        for (const GLfloat *point : row)
            glVertex3fv(point);
        glEnd();
    }
    for (int t = 0; t < netColumns; t++) {
        glBegin(GL_LINE_STRIP);
        for (const auto &row : controlPoints)
            glVertex3fv(row[t]);
        glEnd();
    }
    glEnable(GL_LIGHTING);
}

void drawSurfaceModel()
{
    if (showSurface)
        drawSurface();
    if (showPoints)
        drawControlPoints();
    if (showMesh)
        drawControlMesh();
}
