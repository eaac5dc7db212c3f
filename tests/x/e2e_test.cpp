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

// A yellow 5 x 5 square on every control point that stands clear of the
// others. Mesh lines and axes nearer the eye may cross its square, but no
// pixel of it is background.
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
        int core = 0, yellowCore = 0, around = 0;
        for (int dy = -4; dy <= 4; dy++)
            for (int dx = -4; dx <= 4; dx++) {
                const xt::Rgb c = image.at(cx + dx, cy + dy);
                around += isYellow(c);
                if (std::abs(dx) <= 2 && std::abs(dy) <= 2) {
                    core += !isBlack(c);
                    yellowCore += isYellow(c);
                }
            }
        EXPECT_EQ(core, 25) << "point at " << p.x << ", " << p.y;
        EXPECT_GE(yellowCore, 13) << "point at " << p.x << ", " << p.y;
        EXPECT_LE(around, 25) << "point at " << p.x << ", " << p.y;
    }
    EXPECT_GE(judged, 20);
}

// What a desktop matches the window to its entry and its process by: the
// class and instance, the process id and the machine that process runs on.
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

}  // namespace

TEST(Menu, SwitchesTheDrawingsAndAlwaysKeepsOneOn)
{
    xt::Viewer viewer;
    const View view;
    const xt::Image start = viewer.settled();
    // Set right after the window was made, so present once it has drawn.
    expectNamesItsOwner(viewer);

    viewer.chooseMenuEntry(entryMesh);  // surface and mesh
    xt::Image image = viewer.settled();
    EXPECT_GT(countPixels(image, isSurface), 15000);
    expectMesh(image, view, false);
    EXPECT_EQ(countPixels(image, isYellow), 0);

    viewer.chooseMenuEntry(entrySurface);  // the mesh alone
    image = viewer.settled();
    EXPECT_EQ(countPixels(image, isSurface), 0);
    expectMesh(image, view, true);

    viewer.chooseMenuEntry(entryPoints);  // mesh and points
    image = viewer.settled();
    EXPECT_EQ(countPixels(image, isSurface), 0);
    expectMesh(image, view, false);
    expectPoints(image, view);

    viewer.chooseMenuEntry(entryMesh);  // the points alone
    image = viewer.settled();
    EXPECT_EQ(countPixels(image, isSurface), 0);
    EXPECT_EQ(countPixels(image, isGreen), 0);
    expectPoints(image, view);

    // Switching off the last drawing brings the surface back, alone.
    viewer.chooseMenuEntry(entryPoints);
    EXPECT_TRUE(viewer.settled() == start);
    viewer.chooseMenuEntry(entrySurface);
    EXPECT_TRUE(viewer.settled() == start);

    viewer.chooseMenuEntry(entryExit);
    EXPECT_EQ(viewer.waitExit(), 0);
}

TEST(Keys, TurnAndMoveTheSceneByFiveAStep)
{
    xt::Viewer viewer;
    View view;

    viewer.keys({"Left"}, 18);
    view.ry += 90;
    expectShowsBowl(viewer.settled(), view);

    viewer.keys({"Up", "Up", "Down", "Up"});
    view.rx += 10;
    expectShowsBowl(viewer.settled(), view);

    viewer.keys({"z", "z", "z", "Z", "Right"});
    view.rz += 10;
    view.ry -= 5;
    expectShowsBowl(viewer.settled(), view);

    viewer.keys({"plus", "plus", "minus", "plus"});
    view.distance -= 10;
    expectShowsBowl(viewer.settled(), view);
}

TEST(Keys, OthersChangeNothingAndAFullTurnLooksTheSame)
{
    xt::Viewer viewer;
    const xt::Image start = viewer.settled();
    viewer.keys({"a", "q", "space", "F1", "Home", "Next", "shift", "ctrl", "alt", "Tab"});
    EXPECT_TRUE(viewer.settled() == start);

    viewer.keys({"Left"}, 72);
    // 330 degrees is not -30 to the last bit of a float: a few edge pixels
    // may round the other way.
    const xt::Image turned = viewer.settled();
    int differ = 0;
    for (size_t i = 0; i < turned.pixels.size(); i++)
        differ += turned.pixels[i] != start.pixels[i];
    EXPECT_LE(differ, 40);
    View view;
    view.ry = 330;
    expectShowsBowl(turned, view);
}

TEST(Keys, EightStepsNearerPutTheEyeInsideTheSceneAndNothingShows)
{
    xt::Viewer viewer;
    viewer.keys({"plus"}, 8);
    xt::Image image = viewer.settled();
    EXPECT_EQ(countPixels(image, isBlack), image.width * image.height);
    viewer.keys({"plus"}, 2);
    image = viewer.settled();
    EXPECT_EQ(countPixels(image, isBlack), image.width * image.height);
    // And back out again: nothing was clamped on the way.
    viewer.keys({"minus"}, 10);
    expectShowsBowl(viewer.settled(), View());
}

TEST(Help, ReachesAPipeWhileTheViewerRunsThenEscapeEndsIt)
{
    xt::Viewer viewer({}, true);
    const std::string once = kHelpText;
    viewer.keys({"h"});
    EXPECT_EQ(viewer.output(once.size()), once);
    EXPECT_TRUE(viewer.running());

    viewer.keys({"H"});
    EXPECT_EQ(viewer.output(2 * once.size()), once + once);
    EXPECT_TRUE(viewer.running());

    viewer.keys({"Escape"});
    EXPECT_EQ(viewer.waitExit(), 0);
    EXPECT_EQ(viewer.output(3 * once.size(), 500), once + once);
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
    xt::pause(100);
    if (!viewer.running()) {
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
    EXPECT_EQ(viewer.output(20).substr(0, 20), std::string(kHelpText).substr(0, 20));
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

std::string withoutCarriageReturns(std::string text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

// How many pixels two pictures of the same size differ in; -1 if the sizes differ.
int differingPixels(const xt::Image &a, const xt::Image &b)
{
    if (a.width != b.width || a.height != b.height)
        return -1;
    int differ = 0;
    for (size_t i = 0; i < a.pixels.size(); i++)
        differ += a.pixels[i] != b.pixels[i];
    return differ;
}

struct Frames {
    xt::Image start, left, nearer, mesh;
};

// The same steps on both builds: the first frame, a turn, a step nearer and
// the mesh switched on.
Frames takeFrames(xt::Viewer &viewer)
{
    Frames f;
    f.start = viewer.settled();
    viewer.keys({"Left"});
    f.left = viewer.settled();
    viewer.keys({"plus"});
    f.nearer = viewer.settled();
    viewer.chooseMenuEntry(entryMesh);
    f.mesh = viewer.settled();
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
    WinePrefix prefix;
    xt::run("unzip -q -o '" QUENDAL_WINDOWS_ZIP "' quendal.exe -d " + prefix.dir);
    xt::Viewer viewer({}, true, false, {}, {"wine", prefix.dir + "/quendal.exe"});
    const xt::Geometry g = viewer.geometry();
    EXPECT_EQ(g.width, 400);
    EXPECT_EQ(g.height, 400);

    viewer.activate();
    const Frames wine = takeFrames(viewer);
    EXPECT_EQ(differingPixels(wine.start, native.start), 0) << "the first frame";
    EXPECT_GT(differingPixels(wine.left, wine.start), 0) << "Left redrew nothing";
    EXPECT_EQ(differingPixels(wine.left, native.left), 0) << "after Left";
    EXPECT_GT(differingPixels(wine.nearer, wine.left), 0) << "+ redrew nothing";
    EXPECT_EQ(differingPixels(wine.nearer, native.nearer), 0) << "after +";
    View view;
    view.ry += 5;
    view.distance -= 5;
    expectMesh(wine.mesh, view, false);
    EXPECT_EQ(differingPixels(wine.mesh, native.mesh), 0) << "with the mesh";

    // The C runtime writes text with CRLF line ends.
    const std::string help = kHelpText;
    const size_t lines = size_t(std::count(help.begin(), help.end(), '\n'));
    viewer.keys({"h"});
    EXPECT_EQ(withoutCarriageReturns(viewer.output(help.size() + lines, 30000)), help);

    viewer.keys({"Escape"});
    EXPECT_EQ(viewer.waitExit(60000), 0);
}
#endif
