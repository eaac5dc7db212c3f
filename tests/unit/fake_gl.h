// SPDX-License-Identifier: MIT
// A recording stand-in for the GL, GLU, GLUT, GLX and Xlib functions the
// viewer calls.
// The viewer's sources link against it instead of the real libraries, so a
// test can run a handler and read back every call it made, in order.
#ifndef QUENDAL_FAKE_GL_H
#define QUENDAL_FAKE_GL_H

#include <GL/glut.h>
#include <X11/Xlib.h>

#include <ostream>
#include <string>
#include <vector>

namespace fake {

struct Call {
    std::string name;
    std::vector<double> args;  // numbers, and the values behind pointer arguments
    std::string text;          // a string argument, if any
    const void *handle = nullptr;

    Call(std::string n, std::vector<double> a = {}, std::string t = {}, const void *h = nullptr)
        : name(std::move(n)), args(std::move(a)), text(std::move(t)), handle(h)
    {
    }
    bool operator==(const Call &other) const
    {
        return name == other.name && args == other.args && text == other.text &&
               handle == other.handle;
    }
};
std::ostream &operator<<(std::ostream &out, const Call &call);

struct Callbacks {
    void (*display)() = nullptr;
    void (*reshape)(int, int) = nullptr;
    void (*keyboard)(unsigned char, int, int) = nullptr;
    void (*special)(int, int, int) = nullptr;
    void (*menu)(int) = nullptr;
};

// What the last gluNurbsSurface call was handed, copied out of its pointers.
struct NurbsSurface {
    std::vector<float> sKnots, tKnots, control;
};

extern std::vector<Call> calls;
extern Callbacks callbacks;
extern NurbsSurface lastSurface;

// The handles gluNewNurbsRenderer gives out: the first renderer made, and
// the second.
GLUnurbs *renderer(int which = 0);

// The display and window GLX gives out for the window GLUT made, and the
// atoms Xlib gives out: the first name interned gets the first, and so on.
Display *display();
const Window window = 0x400001;
const Atom firstAtom = 300;

void reset();
// For a test that ends in exit(): writes the names of the calls made up to
// the exit to standard error, so that a death test can see them.
void reportCallsAtExit();
std::vector<std::string> names();
std::vector<Call> callsNamed(const std::string &name);
int count(const std::string &name);

}  // namespace fake

#endif
