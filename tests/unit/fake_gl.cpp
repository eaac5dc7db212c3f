// SPDX-License-Identifier: MIT
#include "fake_gl.h"

#include <GL/glx.h>
#include <X11/Xutil.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace fake {

std::vector<Call> calls;
Callbacks callbacks;
NurbsSurface lastSurface;

static int rendererObjects[2];
static int renderersMade;

GLUnurbs *renderer(int which) { return reinterpret_cast<GLUnurbs *>(&rendererObjects[which]); }

static int displayObject;

Display *display() { return reinterpret_cast<Display *>(&displayObject); }

// GL's modelview and projection stacks, kept from the recorded calls so that
// a matrix query answers as GL would. Column-major, as GL stores them.
using Matrix = std::array<double, 16>;
static const Matrix identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
static std::vector<Matrix> modelview = {identity}, projection = {identity};
static std::vector<Matrix> *currentStack = &modelview;

static void resetMatrices()
{
    modelview = {identity};
    projection = {identity};
    currentStack = &modelview;
}

static void multiplyCurrent(const Matrix &by)
{
    Matrix &m = currentStack->back();
    Matrix product{};
    for (int column = 0; column < 4; column++)
        for (int row = 0; row < 4; row++)
            for (int k = 0; k < 4; k++)
                product[4 * column + row] += m[4 * k + row] * by[4 * column + k];
    m = product;
}

void reset()
{
    calls.clear();
    callbacks = Callbacks();
    lastSurface = NurbsSurface();
    resetMatrices();
}

void reportCallsAtExit()
{
    std::atexit([] {
        for (const Call &call : calls)
            std::fprintf(stderr, "%s\n", call.name.c_str());
    });
}

std::vector<std::string> names()
{
    std::vector<std::string> out;
    for (const Call &call : calls)
        out.push_back(call.name);
    return out;
}

std::vector<Call> callsNamed(const std::string &name)
{
    std::vector<Call> out;
    for (const Call &call : calls)
        if (call.name == name)
            out.push_back(call);
    return out;
}

int count(const std::string &name) { return static_cast<int>(callsNamed(name).size()); }

std::ostream &operator<<(std::ostream &out, const Call &call)
{
    out << call.name << '(';
    for (size_t i = 0; i < call.args.size(); i++)
        out << (i ? ", " : "") << call.args[i];
    if (!call.text.empty())
        out << (call.args.empty() ? "" : ", ") << '"' << call.text << '"';
    if (call.handle)
        out << ", handle " << call.handle;
    return out << ')';
}

static void record(const char *name, std::vector<double> args = {}, std::string text = {},
                   const void *handle = nullptr)
{
    calls.emplace_back(name, std::move(args), std::move(text), handle);
}

}  // namespace fake

using fake::record;

extern "C" {

void glPushMatrix()
{
    record("glPushMatrix");
    fake::currentStack->push_back(fake::currentStack->back());
}
void glPopMatrix()
{
    record("glPopMatrix");
    fake::currentStack->pop_back();
}
void glFlush() { record("glFlush"); }
void glLoadIdentity()
{
    record("glLoadIdentity");
    fake::currentStack->back() = fake::identity;
}
void glEnd() { record("glEnd"); }
void glEnable(GLenum cap) { record("glEnable", {double(cap)}); }
void glDisable(GLenum cap) { record("glDisable", {double(cap)}); }
void glBegin(GLenum mode) { record("glBegin", {double(mode)}); }
void glClear(GLbitfield mask) { record("glClear", {double(mask)}); }
void glMatrixMode(GLenum mode)
{
    record("glMatrixMode", {double(mode)});
    fake::currentStack = mode == GL_PROJECTION ? &fake::projection : &fake::modelview;
}
void glGetFloatv(GLenum pname, GLfloat *params)
{
    record("glGetFloatv", {double(pname)});
    const fake::Matrix &m =
        (pname == GL_PROJECTION_MATRIX ? fake::projection : fake::modelview).back();
    for (int i = 0; i < 16; i++)
        params[i] = static_cast<GLfloat>(m[i]);
}
void glPointSize(GLfloat size) { record("glPointSize", {size}); }
void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a)
{
    record("glClearColor", {r, g, b, a});
}
void glColor3f(GLfloat r, GLfloat g, GLfloat b) { record("glColor3f", {r, g, b}); }
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) { record("glVertex3f", {x, y, z}); }
void glVertex3fv(const GLfloat *v) { record("glVertex3fv", {v[0], v[1], v[2]}); }
void glTranslatef(GLfloat x, GLfloat y, GLfloat z)
{
    record("glTranslatef", {x, y, z});
    fake::multiplyCurrent({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1});
}
// The viewer turns about the unit axes only.
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    record("glRotatef", {angle, x, y, z});
    const double a = angle * std::acos(-1.0) / 180, c = std::cos(a), s = std::sin(a), d = 1 - c;
    fake::multiplyCurrent({x * x * d + c, y * x * d + z * s, x * z * d - y * s, 0,  //
                           x * y * d - z * s, y * y * d + c, y * z * d + x * s, 0,  //
                           x * z * d + y * s, y * z * d - x * s, z * z * d + c, 0,  //
                           0, 0, 0, 1});
}
void glMaterialfv(GLenum face, GLenum pname, const GLfloat *params)
{
    std::vector<double> args = {double(face), double(pname)};
    int n = pname == GL_SHININESS ? 1 : 4;
    for (int i = 0; i < n; i++)
        args.push_back(params[i]);
    record("glMaterialfv", args);
}
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h)
{
    record("glViewport", {double(x), double(y), double(w), double(h)});
}
// GL refuses a degenerate frustum and leaves the matrix as it was.
void glFrustum(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f)
{
    record("glFrustum", {l, r, b, t, n, f});
    if (l == r || b == t || n <= 0 || f <= 0 || n == f)
        return;
    fake::multiplyCurrent({2 * n / (r - l), 0, 0, 0, 0, 2 * n / (t - b), 0, 0, (r + l) / (r - l),
                           (t + b) / (t - b), -(f + n) / (f - n), -1, 0, 0, -2 * f * n / (f - n),
                           0});
}

GLUnurbs *gluNewNurbsRenderer()
{
    record("gluNewNurbsRenderer");
    return fake::renderer(fake::renderersMade++ % 2);
}
void gluNurbsProperty(GLUnurbs *nurb, GLenum property, GLfloat value)
{
    record("gluNurbsProperty", {double(property), value}, {}, nurb);
}
void gluBeginSurface(GLUnurbs *nurb) { record("gluBeginSurface", {}, {}, nurb); }
void gluEndSurface(GLUnurbs *nurb) { record("gluEndSurface", {}, {}, nurb); }
void gluNurbsSurface(GLUnurbs *nurb, GLint sKnotCount, GLfloat *sKnots, GLint tKnotCount,
                     GLfloat *tKnots, GLint sStride, GLint tStride, GLfloat *control, GLint sOrder,
                     GLint tOrder, GLenum type)
{
    record("gluNurbsSurface",
           {double(sKnotCount), double(tKnotCount), double(sStride), double(tStride),
            double(sOrder), double(tOrder), double(type)},
           {}, nurb);
    fake::lastSurface.sKnots.assign(sKnots, sKnots + sKnotCount);
    fake::lastSurface.tKnots.assign(tKnots, tKnots + tKnotCount);
    // The net's extent follows from the strides and the counts of points.
    int sPoints = sKnotCount - sOrder, tPoints = tKnotCount - tOrder;
    int size = (sPoints - 1) * sStride + (tPoints - 1) * tStride + 3;
    fake::lastSurface.control.assign(control, control + size);
}

void glutInit(int *argc, char **argv)
{
    std::string text;
    for (int i = 0; i < *argc; i++)
        text += std::string(i ? " " : "") + argv[i];
    record("glutInit", {double(*argc)}, text);
}
void glutInitWindowPosition(int x, int y)
{
    record("glutInitWindowPosition", {double(x), double(y)});
}
void glutInitWindowSize(int w, int h) { record("glutInitWindowSize", {double(w), double(h)}); }
void glutInitDisplayMode(unsigned int mode) { record("glutInitDisplayMode", {double(mode)}); }
int glutCreateWindow(const char *title)
{
    record("glutCreateWindow", {}, title);
    return 1;
}
void glutDisplayFunc(void (*f)())
{
    record("glutDisplayFunc");
    fake::callbacks.display = f;
}
void glutReshapeFunc(void (*f)(int, int))
{
    record("glutReshapeFunc");
    fake::callbacks.reshape = f;
}
void glutKeyboardFunc(void (*f)(unsigned char, int, int))
{
    record("glutKeyboardFunc");
    fake::callbacks.keyboard = f;
}
void glutSpecialFunc(void (*f)(int, int, int))
{
    record("glutSpecialFunc");
    fake::callbacks.special = f;
}
int glutCreateMenu(void (*f)(int))
{
    record("glutCreateMenu");
    fake::callbacks.menu = f;
    return 1;
}
void glutAddMenuEntry(const char *label, int value)
{
    record("glutAddMenuEntry", {double(value)}, label);
}
void glutAttachMenu(int button) { record("glutAttachMenu", {double(button)}); }
void glutMainLoop() { record("glutMainLoop"); }
void glutSwapBuffers() { record("glutSwapBuffers"); }
void glutPostRedisplay() { record("glutPostRedisplay"); }

Display *glXGetCurrentDisplay()
{
    record("glXGetCurrentDisplay");
    return fake::display();
}
GLXDrawable glXGetCurrentDrawable()
{
    record("glXGetCurrentDrawable");
    return fake::window;
}
int XSetClassHint(Display *display, Window window, XClassHint *hint)
{
    record("XSetClassHint", {double(window)}, std::string(hint->res_name) + "." + hint->res_class,
           display);
    return 1;
}
Atom XInternAtom(Display *display, const char *name, Bool onlyIfExists)
{
    record("XInternAtom", {double(onlyIfExists)}, name, display);
    return fake::firstAtom + fake::count("XInternAtom") - 1;
}
// The values of a 32-bit property reach Xlib as longs; an 8-bit one is
// recorded as its text.
int XChangeProperty(Display *display, Window window, Atom property, Atom type, int format, int mode,
                    const unsigned char *data, int count)
{
    std::vector<double> args = {double(window), double(property), double(type), double(format),
                                double(mode)};
    std::string text;
    for (int i = 0; i < count && format == 32; i++)
        args.push_back(double(reinterpret_cast<const unsigned long *>(data)[i]));
    if (format == 8)
        text.assign(reinterpret_cast<const char *>(data), size_t(count));
    record("XChangeProperty", args, text, display);
    return 1;
}

}  // extern "C"
