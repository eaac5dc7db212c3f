// SPDX-License-Identifier: MIT
// The real viewer driven by real X input: the right-button menu, the keys,
// the help text on a pipe and both ways out.
#include <gtest/gtest.h>

// After GoogleTest, whose own names Xlib's macros would replace.
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "help_text.h"
#include "picture.h"
#include "xharness.h"

namespace {

enum { entrySurface, entryMesh, entryPoints, entryExit };

// Green only along the mesh's course; where nothing hides it, along all of it.
void expectMesh(const xt::Image &image, const View &view, bool unhidden)
{
    const int w = image.width, h = image.height;
    const std::vector<Pixel> course = meshSamples(view, w, h);
    const std::vector<bool> near = nearLines(course, w, h);
    int stray = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            stray += isGreen(image.at(x, y)) && !near[size_t(y) * w + x];
    EXPECT_EQ(stray, 0) << "green pixels off the mesh";
    EXPECT_GT(countPixels(image, isGreen), 300);
    if (unhidden) {
        std::vector<Pixel> visible;
        for (const Pixel &p : course)
            if (p.visible && inWindow(p, w, h))
                visible.push_back(p);
        EXPECT_GE(drawnShare(image, visible, isGreen), 0.95);
    }
}

// The 5 x 5 pixels whose middle is (x, y): how many are drawn, and how many
// of those yellow.
struct Square {
    int drawn = 0, yellow = 0;
};

Square squareAt(const xt::Image &image, int x, int y)
{
    Square s;
    for (int dy = -2; dy <= 2; dy++)
        for (int dx = -2; dx <= 2; dx++) {
            const xt::Rgb c = image.at(x + dx, y + dy);
            s.drawn += !isBlack(c);
            s.yellow += isYellow(c);
        }
    return s;
}

// A yellow square of 5 x 5 pixels, the points' size, on every control point
// that stands clear of the others. GL draws a point that is not antialiased
// as a square of its size in whole pixels, but renderers place it
// differently (llvmpipe's middle pixel is the one the point falls in,
// softpipe's the one its place rounds to): the square's middle is within one
// pixel of the projected point's, each way. Mesh lines and axes nearer the eye may cross
// the square, but no pixel of it is background, and no more yellow lies
// around the point than one square holds.
void expectPoints(const xt::Image &image, const View &view)
{
    const std::vector<float> net = expectedNet();
    std::vector<Pixel> points;
    for (int i = 0; i < 72; i++)
        points.push_back(
            project(netPoint(net, i / 24, i % 24), view, image.width, image.height, true));
    int judged = 0;
    for (const Pixel &p : points) {
        bool clear =
            p.visible && p.x >= 6 && p.y >= 6 && p.x < image.width - 6 && p.y < image.height - 6;
        for (const Pixel &q : points) {
            const double d = std::hypot(p.x - q.x, p.y - q.y);
            clear = clear && (d < 0.01 || d > 12);
        }
        if (!clear)
            continue;
        judged++;
        const int cx = int(p.x), cy = int(p.y);
        Square best;
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++) {
                const Square s = squareAt(image, cx + dx, cy + dy);
                if (s.drawn > best.drawn || (s.drawn == best.drawn && s.yellow > best.yellow))
                    best = s;
            }
        int around = 0;
        for (int dy = -5; dy <= 5; dy++)
            for (int dx = -5; dx <= 5; dx++)
                around += isYellow(image.at(cx + dx, cy + dy));
        EXPECT_EQ(best.drawn, 25) << "pixels drawn of the fullest 5 x 5 square within a pixel of "
                                  << "the point at " << p.x << ", " << p.y;
        EXPECT_GE(best.yellow, 13) << "yellow pixels of that square, at " << p.x << ", " << p.y;
        EXPECT_LE(around, 25) << "yellow pixels around the point at " << p.x << ", " << p.y;
    }
    EXPECT_GE(judged, 20);
}

// What a desktop matches the window to its entry and its process by: the
// class and instance, the entry KWin reads, the process id and the machine
// that process runs on.
void expectNamesItsOwner(const xt::Viewer &viewer)
{
    Display *d = xt::display();
    XClassHint hint = {};
    ASSERT_NE(XGetClassHint(d, viewer.window(), &hint), 0) << "no WM_CLASS";
    EXPECT_STREQ(hint.res_name, "quendal");
    EXPECT_STREQ(hint.res_class, "quendal");
    XFree(hint.res_name);
    XFree(hint.res_class);

    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    const Atom utf8String = XInternAtom(d, "UTF8_STRING", False);
    XGetWindowProperty(d, viewer.window(), XInternAtom(d, "_KDE_NET_WM_DESKTOP_FILE", False), 0, 64,
                       False, utf8String, &type, &format, &count, &after, &data);
    ASSERT_TRUE(data && type == utf8String && format == 8)
        << "_KDE_NET_WM_DESKTOP_FILE is not UTF8_STRING text: type " << type << ", format "
        << format;
    EXPECT_EQ(std::string(reinterpret_cast<char *>(data), count), "quendal");
    XFree(data);

    data = nullptr;
    XGetWindowProperty(d, viewer.window(), XInternAtom(d, "_NET_WM_PID", False), 0, 1, False,
                       XA_CARDINAL, &type, &format, &count, &after, &data);
    ASSERT_TRUE(data && type == XA_CARDINAL && format == 32 && count == 1)
        << "_NET_WM_PID is not one CARDINAL: type " << type << ", format " << format << ", "
        << count << " items";
    EXPECT_EQ(*reinterpret_cast<unsigned long *>(data), static_cast<unsigned long>(viewer.pid()));
    XFree(data);

    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    XTextProperty machine = {};
    ASSERT_NE(XGetWMClientMachine(d, viewer.window(), &machine), 0) << "no WM_CLIENT_MACHINE";
    EXPECT_EQ(std::string(reinterpret_cast<char *>(machine.value), machine.nitems), host);
    XFree(machine.value);
}

// freeglut sets _NET_WM_PID only where an EWMH window manager says it runs,
// as every desktop's does, and wrongly on s390x; the viewer's own value must
// be the one that stays. The tests' server has no window manager, so this
// stands in: the root and a window of its own name that window.
void standInForAWindowManager()
{
    Display *d = xt::display();
    const Window root = DefaultRootWindow(d);
    const Window check = XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0);
    const Atom supporting = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    for (const Window w : {root, check})
        XChangeProperty(d, w, supporting, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(&check), 1);
    XSync(d, False);
}

}  // namespace

TEST(Menu, SwitchesTheDrawingsAndAlwaysKeepsOneOn)
{
    standInForAWindowManager();
    xt::Viewer viewer;
    const View view;
    const xt::Image start = viewer.settled();
    // Set right after the window was made, so present once it has drawn.
    expectNamesItsOwner(viewer);
    xt::Image image;
    {
        SCOPED_TRACE("Malla: the surface and the mesh");
        viewer.chooseMenuEntry(entryMesh);
        image = viewer.settled();
        EXPECT_GT(countPixels(image, isSurface), 15000);
        expectMesh(image, view, false);
        EXPECT_EQ(countPixels(image, isYellow), 0);
    }
    {
        SCOPED_TRACE("then Quendal: the mesh alone");
        viewer.chooseMenuEntry(entrySurface);
        image = viewer.settled();
        EXPECT_EQ(countPixels(image, isSurface), 0);
        expectMesh(image, view, true);
    }
    {
        SCOPED_TRACE("then Puntos: the mesh and the points");
        viewer.chooseMenuEntry(entryPoints);
        image = viewer.settled();
        EXPECT_EQ(countPixels(image, isSurface), 0);
        expectMesh(image, view, false);
        expectPoints(image, view);
    }
    {
        SCOPED_TRACE("then Malla: the points alone");
        viewer.chooseMenuEntry(entryMesh);
        image = viewer.settled();
        EXPECT_EQ(countPixels(image, isSurface), 0);
        EXPECT_EQ(countPixels(image, isGreen), 0);
        expectPoints(image, view);
    }
    // Switching off the last drawing brings the surface back, alone.
    viewer.chooseMenuEntry(entryPoints);
    EXPECT_TRUE(viewer.settled() == start) << "then Puntos: the surface back alone";
    viewer.chooseMenuEntry(entrySurface);
    EXPECT_TRUE(viewer.settled() == start) << "then Quendal: the surface still alone";

    viewer.chooseMenuEntry(entryExit);
    EXPECT_EQ(viewer.waitExit(), 0) << "then Salir";
}

TEST(Keys, TurnAndMoveTheSceneByFiveAStep)
{
    xt::Viewer viewer;
    View view;
    // Each step's keys must lead to the view as changed before it.
    const auto step = [&viewer, &view](const char *name, const std::vector<std::string> &keys,
                                       int repeat) {
        SCOPED_TRACE(name);
        viewer.keys(keys, repeat);
        expectShowsBowl(viewer.settled(), view);
    };
    view.ry += 90;
    step("Left 18 times", {"Left"}, 18);
    view.rx += 10;
    step("then Up, Up, Down, Up", {"Up", "Up", "Down", "Up"}, 1);
    view.rz += 10;
    view.ry -= 5;
    step("then z, z, z, Z, Right", {"z", "z", "z", "Z", "Right"}, 1);
    view.distance -= 10;
    step("then plus, plus, minus, plus", {"plus", "plus", "minus", "plus"}, 1);
}

TEST(Keys, OthersChangeNothingAndAFullTurnLooksTheSame)
{
    xt::Viewer viewer;
    const xt::Image start = viewer.settled();
    viewer.keys({"a", "q", "space", "F1", "Home", "Next", "shift", "ctrl", "alt", "Tab"});
    EXPECT_TRUE(viewer.settled() == start) << "after keys that are not the viewer's";

    SCOPED_TRACE("after Left 72 times");
    viewer.keys({"Left"}, 72);
    // 330 degrees is not -30 to the last bit of a float: a few edge pixels
    // may round the other way.
    const xt::Image turned = viewer.settled();
    EXPECT_LE(xt::differingPixels(turned, start), 40);
    View view;
    view.ry = 330;
    expectShowsBowl(turned, view);
}

TEST(Keys, EightStepsNearerPutTheEyeInsideTheSceneWhereOnlyTheRimCanShow)
{
    xt::Viewer viewer;
    viewer.keys({"plus"}, 8);
    xt::Image image = viewer.settled();
    EXPECT_EQ(countPixels(image, isBlack), image.width * image.height) << "after plus 8 times";
    // Turned level, the eye looks along the rim's plane: the rim, 5 to 6
    // units away, lies beyond the near plane. The axes start at the eye, so
    // each is seen end on.
    viewer.keys({"Down"}, 4);
    image = viewer.settled();
    EXPECT_GT(countPixels(image, isSurface), image.width * image.height / 50)
        << "after plus 8 times, then Down 4 times";
    EXPECT_EQ(countPixels(image, isWhite), 0) << "after plus 8 times, then Down 4 times";
    viewer.keys({"Up"}, 4);
    viewer.keys({"plus"}, 2);
    image = viewer.settled();
    EXPECT_EQ(countPixels(image, isBlack), image.width * image.height) << "after plus 10 times";
    // And back out again: nothing was clamped on the way.
    SCOPED_TRACE("after plus 10 times, then minus 10 times");
    viewer.keys({"minus"}, 10);
    expectShowsBowl(viewer.settled(), View());
}

TEST(Help, ReachesAPipeWhileTheViewerRunsThenEscapeEndsIt)
{
    xt::Viewer viewer({}, true);
    const std::string once = kHelpText;
    viewer.keys({"h"});
    EXPECT_EQ(viewer.output(), once) << "after h";
    EXPECT_TRUE(viewer.running());

    viewer.keys({"H"});
    EXPECT_EQ(viewer.output(), once + once) << "after h, H";
    EXPECT_TRUE(viewer.running());

    viewer.keys({"Escape"});
    EXPECT_EQ(viewer.waitExit(), 0) << "after Escape";
    EXPECT_EQ(viewer.output(), once + once) << "after Escape";
}

// What a window manager sends when its close button is pressed: freeglut's
// answer, which the viewer keeps, is to end the program with status 0.
TEST(Close, TheWindowManagersCloseRequestEndsItWithStatusZero)
{
    xt::Viewer viewer;
    Display *d = xt::display();
    XEvent request = {};
    request.xclient.type = ClientMessage;
    request.xclient.window = viewer.window();
    request.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    request.xclient.format = 32;
    request.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    request.xclient.data.l[1] = CurrentTime;
    ASSERT_NE(XSendEvent(d, viewer.window(), False, NoEventMask, &request), 0);
    XFlush(d);
    EXPECT_EQ(viewer.waitExit(), 0);
}

namespace {

std::string descriptorTarget(pid_t pid, int fd)
{
    char target[PATH_MAX] = {};
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    return readlink(link.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

// Help, then a turn that must show, then the way out.
void expectStillServes(xt::Viewer &viewer, const std::vector<std::string> &keys)
{
    viewer.keys(keys);
    if (!viewer.caughtUp()) {
        ADD_FAILURE() << "the viewer died with status " << viewer.waitExit();
        return;
    }
    View view;
    view.ry += 5;
    expectShowsBowl(viewer.settled(), view);
    viewer.keys({"Escape"});
    EXPECT_EQ(viewer.waitExit(), 0);
}

}  // namespace

TEST(Streams, ClosedOrVanishedStandardStreamsNeitherHangNorKillTheViewer)
{
    for (int fd : {0, 1, 2}) {
        SCOPED_TRACE("descriptor " + std::to_string(fd) + " closed at start");
        xt::Viewer viewer({}, true, false, {fd});
        EXPECT_EQ(descriptorTarget(viewer.pid(), fd), "/dev/null");
        expectStillServes(viewer, {"h", "Left"});
    }

    SCOPED_TRACE("the reader of the help text goes away after 20 bytes");
    xt::Viewer viewer({}, true);
    viewer.keys({"h"});
    EXPECT_EQ(viewer.output().substr(0, 20), std::string(kHelpText).substr(0, 20));
    viewer.closeOutput();
    expectStillServes(viewer, {"h", "h", "H", "Left"});
}

#ifdef QUENDAL_WINDOWS_ZIP
namespace {

// A Wine prefix of the test's own, set up by Wine's first start and removed,
// with every process Wine started in it, at the end.
struct WinePrefix {
    std::string dir;
    WinePrefix()
    {
        char name[] = "/tmp/quendal-wine-XXXXXX";
        dir = mkdtemp(name);
        setenv("WINEPREFIX", dir.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
    }
    ~WinePrefix()
    {
        if (std::system("wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1") != 0)
            ADD_FAILURE() << "wineserver did not stop";
        xt::run("rm -rf " + dir);
    }
};

std::string withCarriageReturns(const std::string &text)
{
    std::string out;
    for (const char c : text)
        out += c == '\n' ? "\r\n" : std::string(1, c);
    return out;
}

struct Frames {
    xt::Image start, left, nearer, mesh;
};

// The same steps on both builds: the first frame, a turn, a step nearer and
// the mesh switched on. The native build is waited on through its probe;
// the build under Wine, which has none, until it shows each native frame
// exactly (should it never, its hang guard says how far it is from it).
Frames takeFrames(xt::Viewer &viewer, const Frames *native = nullptr)
{
    const auto frame = [&viewer, native](xt::Image Frames::*which) {
        return native ? viewer.showing(native->*which) : viewer.settled();
    };
    Frames f;
    f.start = frame(&Frames::start);
    viewer.keys({"Left"});
    f.left = frame(&Frames::left);
    viewer.keys({"plus"});
    f.nearer = frame(&Frames::nearer);
    viewer.chooseMenuEntry(entryMesh);
    f.mesh = frame(&Frames::mesh);
    return f;
}

}  // namespace

TEST(Windows, TheZipsExeUnderWineDrawsAsTheNativeBuildAndServesKeysMenuAndHelp)
{
    Frames native;
    {
        xt::Viewer viewer;
        native = takeFrames(viewer);
    }
    // Each step changes the picture, so that a build that ignores it cannot
    // show the frame it is waited for.
    EXPECT_GT(xt::differingPixels(native.left, native.start), 0) << "Left redrew nothing";
    EXPECT_GT(xt::differingPixels(native.nearer, native.left), 0) << "+ redrew nothing";
    View view;
    view.ry += 5;
    view.distance -= 5;
    expectMesh(native.mesh, view, false);

    WinePrefix prefix;
    xt::run("unzip -q -o '" QUENDAL_WINDOWS_ZIP "' quendal.exe -d " + prefix.dir);
    xt::Viewer viewer({}, true, false, {}, {"wine", prefix.dir + "/quendal.exe"});
    const xt::Geometry g = viewer.geometry();
    EXPECT_EQ(g.width, 400);
    EXPECT_EQ(g.height, 400);

    viewer.activate();
    takeFrames(viewer, &native);

    // The C runtime writes text with CRLF line ends. The block is read until
    // it is as long as without them, and on while it is a beginning of the
    // one with them.
    const std::string help = kHelpText, crlf = withCarriageReturns(kHelpText);
    viewer.keys({"h"});
    std::string written = viewer.output(help.size());
    if (written.size() < crlf.size() && crlf.compare(0, written.size(), written) == 0)
        written = viewer.output(crlf.size());
    EXPECT_EQ(written, crlf);

    viewer.keys({"Escape"});
    EXPECT_EQ(viewer.waitExit(), 0);
}
#endif
