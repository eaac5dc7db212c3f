// SPDX-License-Identifier: MIT
// The scene as a minimal program draws it with nothing but GLU's own
// path-length sampling: the viewer's calls for the current viewer state, the
// surface handed over as the viewer hands it, to the renderer given; and the
// count of pixels by which the viewer's frame differs from it.
#ifndef QUENDAL_UNCULLED_H
#define QUENDAL_UNCULLED_H

#include <GL/glut.h>

#include <vector>

#include "net.h"
#include "viewer.h"

// A renderer with nothing but GLU's own path-length sampling, to the
// viewer's tolerance of 50 pixels, and no culling.
inline GLUnurbs *newUnculledRenderer()
{
    GLUnurbs *renderer = gluNewNurbsRenderer();
    gluNurbsProperty(renderer, GLU_SAMPLING_TOLERANCE, 50);
    gluNurbsProperty(renderer, GLU_DISPLAY_MODE, GLU_FILL);
    return renderer;
}

inline void drawUnculledScene(GLUnurbs *renderer)
{
    static std::vector<float> net = expectedNet(), sKnots = expectedSKnots(),
                              tKnots = expectedTKnots();
    static const GLfloat diffuse[] = {0.2f, 0.9f, 1.0f, 1.0f},
                         specular[] = {0.5f, 1.0f, 1.0f, 1.0f}, shininess[] = {100.0f};
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
}

// How many pixels of two RGB frames of one size differ.
inline long differingPixels(const std::vector<unsigned char> &a,
                            const std::vector<unsigned char> &b)
{
    long n = 0;
    for (size_t i = 0; i < a.size(); i += 3)
        n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
    return n;
}

#endif
