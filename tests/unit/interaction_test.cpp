// SPDX-License-Identifier: MIT
// The menu and the keyboard: every entry and key, the redraws they ask for,
// the help text byte for byte, and the two ways out.
#include <gtest/gtest.h>

#include <string>

#include "fake_gl.h"
#include "help_text.h"
#include "interaction.h"
#include "viewer.h"

namespace {

struct State {
    float distance, rx, ry, rz;
    int surface, mesh, points;
    bool operator==(const State &o) const
    {
        return distance == o.distance && rx == o.rx && ry == o.ry && rz == o.rz &&
               surface == o.surface && mesh == o.mesh && points == o.points;
    }
};

std::ostream &operator<<(std::ostream &out, const State &s)
{
    return out << "distance " << s.distance << ", angles " << s.rx << " " << s.ry << " " << s.rz
               << ", surface/mesh/points " << s.surface << s.mesh << s.points;
}

State current()
{
    return {viewDistance, rotationX, rotationY, rotationZ, showSurface, showMesh, showPoints};
}

void set(const State &s)
{
    viewDistance = s.distance;
    rotationX = s.rx;
    rotationY = s.ry;
    rotationZ = s.rz;
    showSurface = s.surface;
    showMesh = s.mesh;
    showPoints = s.points;
}

const State initial = {40, 20, -30, 0, 1, 0, 0};

class Interaction : public ::testing::Test {
protected:
    void SetUp() override
    {
        set(initial);
        fake::reset();
    }
    void TearDown() override { set(initial); }
};

State withFlags(int surface, int mesh, int points)
{
    State s = initial;
    s.surface = surface;
    s.mesh = mesh;
    s.points = points;
    return s;
}

}  // namespace

TEST_F(Interaction, MenuTogglesAndForcesTheSurfaceBackWhenNothingElseShows)
{
    struct Case {
        State before;
        int value;
        State after;
    };
    const Case cases[] = {
        // The surface alone cannot be switched off.
        {withFlags(1, 0, 0), 0, withFlags(1, 0, 0)},
        {withFlags(1, 1, 0), 0, withFlags(0, 1, 0)},
        {withFlags(0, 1, 0), 1, withFlags(1, 0, 0)},
        {withFlags(0, 0, 1), 2, withFlags(1, 0, 0)},
        {withFlags(0, 1, 1), 2, withFlags(0, 1, 0)},
        {withFlags(1, 0, 0), 1, withFlags(1, 1, 0)},
        {withFlags(1, 0, 0), 2, withFlags(1, 0, 1)},
        {withFlags(0, 1, 1), 0, withFlags(1, 1, 1)},
        // Values the menu never sends change nothing but the forcing rule.
        {withFlags(0, 1, 0), -1, withFlags(0, 1, 0)},
        {withFlags(0, 0, 0), 4, withFlags(1, 0, 0)},
    };
    for (const Case &c : cases) {
        set(c.before);
        fake::reset();
        menuHandler(c.value);
        EXPECT_EQ(current(), c.after) << "from " << c.before << " with value " << c.value;
        EXPECT_EQ(fake::names(), std::vector<std::string>{"glutPostRedisplay"});
    }
}

TEST_F(Interaction, KeysInTheTablesStepTheirValueAndAskForOneRedraw)
{
    struct Case {
        bool special;
        int key;
        float State::*field;
        float delta;
    };
    const Case cases[] = {
        {false, '+', &State::distance, -5},   {false, '-', &State::distance, 5},
        {false, 'z', &State::rz, 5},          {false, 'Z', &State::rz, -5},
        {true, GLUT_KEY_LEFT, &State::ry, 5}, {true, GLUT_KEY_RIGHT, &State::ry, -5},
        {true, GLUT_KEY_UP, &State::rx, 5},   {true, GLUT_KEY_DOWN, &State::rx, -5},
    };
    for (const Case &c : cases) {
        set(initial);
        fake::reset();
        if (c.special)
            specialKeyHandler(c.key, 17, 23);
        else
            keyboardHandler(static_cast<unsigned char>(c.key), 17, 23);
        State expected = initial;
        expected.*c.field += c.delta;
        EXPECT_EQ(current(), expected) << "key " << c.key << (c.special ? " (special)" : "");
        EXPECT_EQ(fake::names(), std::vector<std::string>{"glutPostRedisplay"});
    }
}

TEST_F(Interaction, OtherKeysChangeNothingAndDrawNothing)
{
    for (int key : std::initializer_list<int>{'a', 'q', 'x', 'y', ' ', '=', '_', '\r', 0, 26, 28,
                                              127, 200, 255}) {
        keyboardHandler(static_cast<unsigned char>(key), 0, 0);
        EXPECT_EQ(current(), initial) << "key " << key;
    }
    // F1, F12, Home, End, Page Up, Insert, and Shift, Ctrl and Alt, which
    // freeglut reports as special keys of their own.
    for (int key : {GLUT_KEY_F1, GLUT_KEY_F12, GLUT_KEY_HOME, GLUT_KEY_END, GLUT_KEY_PAGE_UP,
                    GLUT_KEY_INSERT, 112, 113, 114, 115, 116, 117, 99, 104, 0}) {
        specialKeyHandler(key, 0, 0);
        EXPECT_EQ(current(), initial) << "special key " << key;
    }
    EXPECT_EQ(fake::calls, std::vector<fake::Call>{});
}

TEST_F(Interaction, ValuesAreNeverWrappedOrClamped)
{
    for (int i = 0; i < 72; i++)
        specialKeyHandler(GLUT_KEY_LEFT, 0, 0);
    EXPECT_EQ(rotationY, 330.0f);
    for (int i = 0; i < 8; i++)
        keyboardHandler('+', 0, 0);
    EXPECT_EQ(viewDistance, 0.0f);
    for (int i = 0; i < 3; i++)
        keyboardHandler('+', 0, 0);
    EXPECT_EQ(viewDistance, -15.0f);
    for (int i = 0; i < 100; i++)
        keyboardHandler('Z', 0, 0);
    EXPECT_EQ(rotationZ, -500.0f);
    EXPECT_EQ(fake::count("glutPostRedisplay"), 72 + 8 + 3 + 100);
}

// That the text leaves the stdio buffer at once is proven end to end, on a
// pipe: GetCapturedStdout flushes standard output itself.
TEST_F(Interaction, HelpWritesTheWholeBlock)
{
    const unsigned char keys[] = {'h', 'H'};
    for (unsigned char key : keys) {
        fake::reset();
        testing::internal::CaptureStdout();
        keyboardHandler(key, 0, 0);
        const std::string written = testing::internal::GetCapturedStdout();
        EXPECT_EQ(written, std::string(kHelpText)) << "key " << key;
        EXPECT_EQ(fake::names(), std::vector<std::string>{"glutPostRedisplay"});
        EXPECT_EQ(current(), initial);
    }
}

TEST_F(Interaction, EscapeAndSalirEndWithStatusZeroAndNoRedraw)
{
    // The calls made before the exit reach standard error; there must be none.
    EXPECT_EXIT(
        {
            fake::reportCallsAtExit();
            keyboardHandler(27, 0, 0);
        },
        testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(
        {
            fake::reportCallsAtExit();
            menuHandler(3);
        },
        testing::ExitedWithCode(0), "^$");
}
