// SPDX-License-Identifier: MIT
// Viewer state shared by the shell, the surface model and the interaction
// handlers, and the shell's own entry points.
#ifndef QUENDAL_VIEWER_H
#define QUENDAL_VIEWER_H

// How far the scene sits from the eye, along -Z, in model units.
extern float viewDistance;
// Turns of the scene about X, Y and Z, in degrees. Never clamped or wrapped.
extern float rotationX;
extern float rotationY;
extern float rotationZ;
// Visibility flags, always 0 or 1.
extern int showSurface;
extern int showMesh;
extern int showPoints;

void initMenuAndState();
void displayScene();
void reshapeView(int width, int height);
void drawAxes(float length);

#endif
