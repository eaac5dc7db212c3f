// SPDX-License-Identifier: MIT
// A walk through viewer states the keys can reach: distances from 15 in to
// -10, orientations spread over the whole sphere, all in the keys' steps of
// 5. Each state is reached by calling the key handlers, as a user would.
#ifndef QUENDAL_WALK_H
#define QUENDAL_WALK_H

#include <GL/glut.h>

#include <random>
#include <vector>

#include "interaction.h"
#include "viewer.h"

struct WalkState {
    int distance, rx, ry, rz;
};

// Each distance in turn, so that far views follow near ones. Views the
// unguarded GLU sampling could not draw come first: a control point on the
// eye plane, and three key sequences that once crashed or froze the viewer.
inline std::vector<WalkState> walkStates(int perDistance)
{
    std::vector<WalkState> states = {{0, 180, 0, 180}, {0, 0, 60, 180}, {0, 90, 0, 90},
                                     {0, 20, 270, 0},  {0, 20, -90, 0}, {0, 20, 0, 0}};
    const int distances[] = {15, 10, 5, 0, -5, -10};
    std::mt19937 random(7);
    for (int i = 0; i < 6 * perDistance; i++)
        states.push_back({distances[i % 6], 5 * int(random() % 72), 5 * int(random() % 72),
                          5 * int(random() % 72)});
    states.push_back({40, 20, -30, 0});
    return states;
}

inline void pressUntil(float &value, int target, void (*press)(bool up))
{
    while (value < target)
        press(true);
    while (value > target)
        press(false);
}

// Moves the viewer state to the given one through the key handlers.
inline void walkTo(const WalkState &s)
{
    pressUntil(viewDistance, s.distance, [](bool up) { keyboardHandler(up ? '-' : '+', 0, 0); });
    pressUntil(rotationX, s.rx,
               [](bool up) { specialKeyHandler(up ? GLUT_KEY_UP : GLUT_KEY_DOWN, 0, 0); });
    pressUntil(rotationY, s.ry,
               [](bool up) { specialKeyHandler(up ? GLUT_KEY_LEFT : GLUT_KEY_RIGHT, 0, 0); });
    pressUntil(rotationZ, s.rz, [](bool up) { keyboardHandler(up ? 'z' : 'Z', 0, 0); });
}

#endif
