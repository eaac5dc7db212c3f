// SPDX-License-Identifier: MIT
// The real viewer on a real X server: its window and its picture.
#include <gtest/gtest.h>

#include "picture.h"
#include "xharness.h"

TEST(Window, OpensTitled400SquareAtTheCornerWhateverGeometryIsAsked)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"-geometry", "120x80+50+60"}, {"-geometry", "-0-0"}}) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args[0] + " " + args[1]);
        xt::Viewer viewer(args);  // found by its title
        const xt::Geometry g = viewer.geometry();
        EXPECT_EQ(g.x, 0);
        EXPECT_EQ(g.y, 0);
        EXPECT_EQ(g.width, 400);
        EXPECT_EQ(g.height, 400);
        EXPECT_TRUE(viewer.running());
    }
}

TEST(Picture, InitialViewShowsTheLitBowlAndWhiteAxesOnBlack)
{
    xt::Viewer viewer;
    const xt::Image image = viewer.settled();
    ASSERT_EQ(image.width, 400);
    expectShowsBowl(image, View());
    EXPECT_TRUE(isBlack(image.at(0, 0)));
    EXPECT_TRUE(isBlack(image.at(399, 0)));
    EXPECT_TRUE(isBlack(image.at(200, 399)));
}

TEST(Picture, ResizingKeepsTheBowlsProportions)
{
    xt::Viewer viewer;
    const Bounds square = expectShowsBowl(viewer.settled(), View());
    struct Size {
        int w, h;
        double scale;  // the horizontal extent is fixed, so width sets the scale
    };
    for (const Size size : {Size{400, 200, 1.0}, Size{260, 400, 0.65}}) {
        SCOPED_TRACE(std::to_string(size.w) + " x " + std::to_string(size.h));
        viewer.resize(size.w, size.h);
        const xt::Image image = viewer.settled();
        ASSERT_EQ(image.width, size.w);
        ASSERT_EQ(image.height, size.h);
        const Bounds b = expectShowsBowl(image, View());
        EXPECT_NEAR(b.aspect(), square.aspect(), 0.03 * square.aspect());
        EXPECT_NEAR(b.right - b.left, size.scale * (square.right - square.left), 3);
    }
}
