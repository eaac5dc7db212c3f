// SPDX-License-Identifier: MIT
// Runs the real viewer on a private Xvfb server and looks at what it shows:
// starts the server and the program, finds windows, grabs their pixels and
// sends real input through xdotool.
#ifndef QUENDAL_XHARNESS_H
#define QUENDAL_XHARNESS_H

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace xt {

// The server lives for the whole test process; every test gets it through
// display(). Nothing else is on it, not even a window manager.
Display *display();

struct Rgb {
    int r, g, b;
};

struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    Rgb at(int x, int y) const;
    bool operator==(const Image &other) const { return pixels == other.pixels; }
};

struct Geometry {
    int x, y, width, height;
    bool viewable;
};

// Every wait on the viewer is a wait on its own progress, not on the clock:
// the harness preloads the progress probe (progress_probe.c) into it, sends
// its window a numbered message after the input of a step, and waits until
// the viewer has handled that message and gone idle. A build run without the
// probe, such as the Windows one under Wine, is waited on until it shows a
// given picture or writes the bytes expected. Only a hang has a clock: the
// hang guard (doing, below).
class Viewer {
public:
    // Starts the program with these extra arguments and waits until it is
    // idle with its window mapped. Its standard output and standard error can
    // each be a pipe, read by output() and errors(); the descriptors in
    // `closed` are closed when it starts. `command`, when given, starts
    // another build instead, such as {"wine", "quendal.exe"}, without the probe.
    explicit Viewer(std::vector<std::string> args = {}, bool captureOutput = false,
                    bool captureErrors = false, std::vector<int> closed = {},
                    std::vector<std::string> command = {});
    ~Viewer();
    Viewer(const Viewer &) = delete;
    Viewer &operator=(const Viewer &) = delete;

    Window window() const { return window_; }
    pid_t pid() const { return pid_; }
    Geometry geometry() const;
    // Waits until the viewer has handled everything sent to it so far and
    // gone idle, its last frame on the server. False if it ended instead.
    // Without the probe it cannot wait: true while the program runs.
    bool caughtUp();
    // The window's pixels once the viewer has caught up; throws, naming the
    // last step, if it ended.
    Image settled();
    // For a build run without the probe: the window's pixels once they are
    // exactly `expected`.
    Image showing(const Image &expected);
    // Sends keys to the window as real key presses, for example "plus" or "Up",
    // with the given pause between them.
    void keys(const std::vector<std::string> &names, int repeat = 1, int delayMs = 15);
    void resize(int width, int height);
    // Right-clicks at a window point, then left-clicks the menu's entry, and
    // returns once the menu has closed (or the viewer ended).
    void chooseMenuEntry(int entry, int x = 200, int y = 200);
    // Makes Wine, which has no window manager here, take the window as the
    // active one, as it must before the window takes keys.
    void activate();
    // What the program has written to standard output, once it has caught up
    // or ended. A build run without the probe is read until it has written at
    // least `atLeast` bytes or ended.
    std::string output(size_t atLeast = 0);
    // Stops reading standard output, as a reader that goes away does.
    void closeOutput();
    // What the program has written to standard error, once it has caught up.
    std::string errors();
    // The exit status once the program has ended, or -1 if it caught up
    // instead: still running after everything sent to it.
    int waitExit();
    bool running();

private:
    bool waitForReport(long number);
    void drain(int fd, std::string &buffer);
    void reap();
    [[noreturn]] void ended(const std::string &while_) const;

    const bool probed_;
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1, progress_ = -1;
    long sent_ = 0;
    Window window_ = 0;
    bool watched_ = false;
    std::string output_, errors_, lastStep_ = "the start";
    int exitStatus_ = -1;
};

// How a run of the program that was not expected to open a window ended.
struct Ended {
    int status;  // -1 if it had to be killed
    std::string errors;
};
// Runs it until it ends.
Ended runToEnd(std::vector<std::string> args, bool withDisplay = true);

Image grab(Window window);
// How many pixels two pictures of the same size differ in; -1 if the sizes differ.
long differingPixels(const Image &a, const Image &b);
// A top-level window by name, or 0.
Window findWindow(const std::string &name);
Geometry geometryOf(Window window);
void run(const std::string &command);
void pause(int milliseconds);
// The hang guard, armed by display(): a test process still running
// QUENDAL_HANG_GUARD seconds after it started takes itself to hang, writes
// what it was doing as last named here, and ends with status 1.
void doing(const std::string &what);

}  // namespace xt

#endif
