// SPDX-License-Identifier: MIT
// The one NURBS surface the viewer shows: a bowl with a scalloped rim.
#ifndef QUENDAL_SURFACE_H
#define QUENDAL_SURFACE_H

// Fills the control net and sets up the NURBS renderer. Needs a current GL
// context, so it runs once the window exists.
void initSurfaceModel();

// Draws the surface, control points and control mesh that the visibility
// flags ask for, under the current modelview matrix.
void drawSurfaceModel();

#endif
