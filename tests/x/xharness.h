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

class Viewer {
public:
    // Starts the program with these extra arguments. Its standard output and
    // standard error can each be a pipe, read by output() and errors(); the
    // descriptors in `closed` are closed when it starts. `command`, when
    // given, starts another build instead, such as {"wine", "quendal.exe"}.
    explicit Viewer(std::vector<std::string> args = {}, bool captureOutput = false,
                    bool captureErrors = false, std::vector<int> closed = {},
                    std::vector<std::string> command = {});
    ~Viewer();
    Viewer(const Viewer &) = delete;
    Viewer &operator=(const Viewer &) = delete;

    Window window() const { return window_; }
    pid_t pid() const { return pid_; }
    Geometry geometry() const;
    // The window's pixels once the picture has stopped changing.
    Image settled() const;
    // Sends keys to the window as real key presses, for example "plus" or "Up",
    // with the given pause between them.
    void keys(const std::vector<std::string> &names, int repeat = 1, int delayMs = 15) const;
    void resize(int width, int height) const;
    // Right-clicks at a window point, then left-clicks the menu's entry.
    void chooseMenuEntry(int entry, int x = 200, int y = 200) const;
    // Left-clicks the window's middle, which the viewer ignores but Wine
    // without a window manager needs before the window takes keys.
    void activate() const;
    // Reads what the program has written so far, waiting up to the timeout
    // for at least `atLeast` bytes.
    std::string output(size_t atLeast, int timeoutMs = 5000);
    // Stops reading standard output, as a reader that goes away does.
    void closeOutput();
    // All the program has written to standard error within the time.
    std::string errors(int timeoutMs);
    // The exit status, or -1 if the program is still running after the timeout.
    int waitExit(int timeoutMs = 5000);
    bool running();

private:
    long cpuTicks() const;

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    Window window_ = 0;
    std::string output_, errors_;
    int exitStatus_ = -1;
};

// How a run of the program that was not expected to open a window ended.
struct Ended {
    int status;  // -1 if it had to be killed
    std::string errors;
};
Ended runToEnd(std::vector<std::string> args, bool withDisplay = true, int timeoutMs = 5000);

Image grab(Window window);
// A top-level window by name, or 0.
Window findWindow(const std::string &name);
Geometry geometryOf(Window window);
void run(const std::string &command);
void pause(int milliseconds);

}  // namespace xt

#endif
