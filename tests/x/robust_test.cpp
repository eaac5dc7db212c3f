// SPDX-License-Identifier: MIT
// The real viewer under abuse: a flood of keys, odd command lines, odd window
// sizes and no display at all.
#include <gtest/gtest.h>

#include <random>

#include "help_text.h"
#include "picture.h"
#include "xharness.h"

namespace {

void expectCornerSquare(const xt::Viewer &viewer)
{
    const xt::Geometry g = viewer.geometry();
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 400);
    EXPECT_EQ(g.height, 400);
}

}  // namespace

TEST(Abuse, AFloodOfKeysLosesNone)
{
    xt::Viewer viewer({}, true);
    const std::vector<std::string> others = {"a", "q", "space",  "F1",    "F12",  "Home", "Tab",
                                             "x", "1", "Insert", "shift", "ctrl", "alt",  "Next"};
    std::mt19937 random(20261208);
    View view;
    int helps = 0;
    std::vector<std::string> keys;
    for (int i = 0; i < 4000; i++) {
        switch (random() % 12) {
        case 0:  // keep the scene far enough away to stay in view
            keys.push_back(view.distance > 25 ? "plus" : "minus");
            view.distance += view.distance > 25 ? -5 : 5;
            break;
        case 1:
            keys.push_back(view.distance < 60 ? "minus" : "plus");
            view.distance += view.distance < 60 ? 5 : -5;
            break;
        case 2:
            keys.push_back(random() % 2 ? "z" : "Z");
            view.rz += keys.back() == "z" ? 5 : -5;
            break;
        case 3:
            keys.push_back(random() % 2 ? "Left" : "Right");
            view.ry += keys.back() == "Left" ? 5 : -5;
            break;
        case 4:
            keys.push_back(random() % 2 ? "Up" : "Down");
            view.rx += keys.back() == "Up" ? 5 : -5;
            break;
        case 5:
            keys.push_back(random() % 2 ? "h" : "H");
            helps++;
            break;
        default:
            keys.push_back(others[random() % others.size()]);
        }
    }
    for (size_t i = 0; i < keys.size(); i += 250)
        viewer.keys(std::vector<std::string>(keys.begin() + i,
                                             keys.begin() + std::min(keys.size(), i + 250)),
                    1, 1);

    expectShowsBowl(viewer.settled(), view);
    std::string expected;
    for (int i = 0; i < helps; i++)
        expected += kHelpText;
    EXPECT_EQ(viewer.output(), expected) << helps << " help requests";
    EXPECT_TRUE(viewer.running());
}

TEST(Abuse, OddCommandLinesStillGiveTheSameWindow)
{
    const std::vector<std::vector<std::string>> lines = {
        {"--no-such-option", "-x", "-", "--", "-geometry=10x10"},
        {std::string(100 * 1024, 'q')},
        {"\xff\xfe\x80", "\xc3\x28", std::string("a\0b", 3), "\x1b[31m"},
        {"-geometry", "0x0+0+0"},
        {"-geometry", "1x1-5-5"},
        {"-geometry", "99999x99999+99999+99999"},
        {"-geometry", "-1x-1"},
        {"-geometry", "nonsense"},
        {"-geometry", "400x400", "-geometry", "20x20+300+300"},
    };
    for (const auto &args : lines) {
        SCOPED_TRACE(args[0].substr(0, 40) + (args.size() > 1 ? " " + args[1] : ""));
        xt::Viewer viewer(args);
        expectCornerSquare(viewer);
        expectShowsBowl(viewer.settled(), View());
    }
}

TEST(Abuse, CommandLinesGlutRejectsEndWithItsMessage)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"-display"}, "-display parameter must be followed by display name"},
        {{"-geometry"}, "-geometry parameter must be followed by window geometry settings"},
        {{"-display", ":7777"}, "failed to open display ':7777'"},
        {{"-direct", "-indirect"}, "-direct and -indirect cannot be both specified"},
        // Xvfb, like most X servers now, refuses indirect GLX.
        {{"-indirect"}, "Unable to create OpenGL 1.0 context"},
    };
    for (const Case &c : cases) {
        const xt::Ended ended = xt::runToEnd(c.args);
        EXPECT_EQ(ended.status, 1) << c.args[0];
        EXPECT_NE(ended.errors.find("freeglut"), std::string::npos) << ended.errors;
        EXPECT_NE(ended.errors.find(c.message), std::string::npos) << ended.errors;
    }
}

TEST(Abuse, WithoutADisplayGlutSaysSoAndTheViewerFails)
{
    const xt::Ended ended = xt::runToEnd({}, false);
    EXPECT_NE(ended.status, 0);
    EXPECT_NE(ended.status, -1);
    EXPECT_NE(ended.errors.find("failed to open display"), std::string::npos) << ended.errors;
}

TEST(Abuse, AnyWindowSizeDrawsWithoutGlErrors)
{
    // -gldebug makes GLUT itself report every GL error after each callback.
    xt::Viewer viewer({"-gldebug"}, false, true);
    const xt::Image start = viewer.settled();
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{1, 1},   {2, 3},    {1, 600},     {800, 1},   {799, 599},
                          {17, 31}, {300, 40}, {2000, 1500}, {4000, 30}, {400, 400}};
    for (const Size s : sizes) {
        SCOPED_TRACE(std::to_string(s.w) + " x " + std::to_string(s.h));
        viewer.resize(s.w, s.h);
        ASSERT_TRUE(viewer.caughtUp()) << "the viewer ended with status " << viewer.waitExit();
        EXPECT_EQ(viewer.geometry().width, s.w);
        EXPECT_EQ(viewer.geometry().height, s.h);
    }
    EXPECT_TRUE(viewer.settled() == start);
    EXPECT_EQ(viewer.errors(), "");
}
