// SPDX-License-Identifier: MIT
#include "xharness.h"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#ifndef QUENDAL_BINARY
#error "QUENDAL_BINARY must name the viewer to test"
#endif

namespace xt {

namespace {

const char viewerTitle[] = "Morvo: quendal";
const char menuTitle[] = "freeglut menu";
const int menuEntries = 4;

pid_t serverPid = -1;
Display *serverDisplay = nullptr;

void stopServer()
{
    if (serverDisplay)
        XCloseDisplay(serverDisplay);
    if (serverPid <= 0)
        return;
    // Xvfb now and then loses a TERM and sleeps on: it is asked again each
    // half second, and killed after 5 s.
    const int polls = 100;
    const int pollsPerTerm = 10;
    for (int attempt = 0; attempt < polls; ++attempt) {
        if (attempt % pollsPerTerm == 0)
            kill(serverPid, SIGTERM);
        if (waitpid(serverPid, nullptr, WNOHANG) == serverPid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(serverPid, SIGKILL);
    waitpid(serverPid, nullptr, 0);
}

XErrorHandler defaultErrorHandler = nullptr;

// A window listed by XQueryTree may be gone when it is asked about, as Wine's
// short-lived windows often are; the caller sees the failed request.
int ignoreVanishedWindows(Display *d, XErrorEvent *e)
{
    if (e->error_code == BadWindow)
        return 0;
    return defaultErrorHandler(d, e);
}

// Xvfb picks a free display number itself and writes it to the pipe once it
// accepts connections, so parallel test processes never collide.
void startServer()
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    serverPid = fork();
    if (serverPid == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDERR_FILENO);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten",
               "tcp", "-noreset", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    pollfd pfd = {fds[0], POLLIN, 0};
    while (poll(&pfd, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb did not start; is the xvfb package installed?");
    std::string name = ":" + number;
    setenv("DISPLAY", name.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    defaultErrorHandler = XSetErrorHandler(ignoreVanishedWindows);
    serverDisplay = XOpenDisplay(name.c_str());
    if (!serverDisplay)
        throw std::runtime_error("cannot open the Xvfb display " + name);
    std::atexit(stopServer);
}

template <typename Pred> bool waitFor(Pred pred, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        pause(20);
    }
    return true;
}

bool viewable(Window w) { return w && geometryOf(w).viewable; }

}  // namespace

Display *display()
{
    if (!serverDisplay)
        startServer();
    return serverDisplay;
}

void pause(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void run(const std::string &command)
{
    display();
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("command failed: " + command);
}

Rgb Image::at(int x, int y) const
{
    uint32_t p = pixels[size_t(y) * width + x];
    return {int(p >> 16 & 0xff), int(p >> 8 & 0xff), int(p & 0xff)};
}

Window findWindow(const std::string &name)
{
    Display *d = display();
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    XSync(d, False);
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count))
        return 0;
    for (unsigned int i = 0; i < count && !found; i++) {
        char *title = nullptr;
        if (XFetchName(d, children[i], &title) && title) {
            if (name == title && viewable(children[i]))
                found = children[i];
            XFree(title);
        }
    }
    if (children)
        XFree(children);
    return found;
}

Geometry geometryOf(Window window)
{
    Display *d = display();
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, window, &a))
        return {0, 0, 0, 0, false};
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
    return {x, y, a.width, a.height, a.map_state == IsViewable};
}

Image grab(Window window)
{
    Display *d = display();
    Geometry g = geometryOf(window);
    Image image;
    XImage *x = XGetImage(d, window, 0, 0, g.width, g.height, AllPlanes, ZPixmap);
    if (!x)
        throw std::runtime_error("XGetImage failed");
    image.width = g.width;
    image.height = g.height;
    image.pixels.resize(size_t(g.width) * g.height);
    for (int y = 0; y < g.height; y++)
        for (int i = 0; i < g.width; i++)
            image.pixels[size_t(y) * g.width + i] = uint32_t(XGetPixel(x, i, y)) & 0xffffff;
    XDestroyImage(x);
    return image;
}

namespace {

// Starts the viewer with the given arguments. Each stream asked for becomes
// a pipe whose reading end is returned through it, and the descriptors in
// `closed` are closed; without a display, the viewer gets no DISPLAY at all.
pid_t spawn(std::vector<std::string> args, int *out, int *err, bool withDisplay = true,
            const std::vector<int> &closed = {}, std::vector<std::string> command = {})
{
    display();
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if ((out && pipe(outPipe) != 0) || (err && pipe(errPipe) != 0))
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        if (out)
            dup2(outPipe[1], STDOUT_FILENO);
        if (err)
            dup2(errPipe[1], STDERR_FILENO);
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            if (fd >= 0)
                close(fd);
        for (int fd : closed)
            close(fd);
        if (!withDisplay)
            unsetenv("DISPLAY");
#ifdef QUENDAL_VIEWER_PRELOAD
        // The sanitizer runtime must come first among preloaded libraries.
        setenv("LD_PRELOAD", QUENDAL_VIEWER_PRELOAD, 1);
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        setenv("LSAN_OPTIONS", "suppressions=" QUENDAL_LEAK_SUPPRESSIONS ":print_suppressions=1",
               1);
        setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 1);
#endif
        // QUENDAL_VIEWER names another build of the viewer, such as an installed one.
        const char *binary = std::getenv("QUENDAL_VIEWER");
        if (!binary)
            binary = QUENDAL_BINARY;
        if (command.empty())
            command = {binary};
        std::vector<char *> argv;
        for (std::string &a : command)
            argv.push_back(a.data());
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (out) {
        close(outPipe[1]);
        *out = outPipe[0];
    }
    if (err) {
        close(errPipe[1]);
        *err = errPipe[0];
    }
    return pid;
}

// Appends what the descriptor delivers until `buffer` holds `atLeast` bytes,
// the writer closes it, or the time is up.
void readInto(int fd, std::string &buffer, size_t atLeast, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (buffer.size() < atLeast) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now())
                        .count();
        pollfd pfd = {fd, POLLIN, 0};
        if (left <= 0 || poll(&pfd, 1, int(left)) <= 0)
            break;
        char chunk[4096];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        buffer.append(chunk, size_t(n));
    }
}

int statusOf(int waitStatus)
{
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

}  // namespace

Ended runToEnd(std::vector<std::string> args, bool withDisplay, int timeoutMs)
{
    int err = -1;
    const pid_t pid = spawn(std::move(args), nullptr, &err, withDisplay);
    Ended ended{-1, {}};
    readInto(err, ended.errors, SIZE_MAX, timeoutMs);
    close(err);
    int status = 0;
    if (waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 1000))
        ended.status = statusOf(status);
    else {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return ended;
}

Viewer::Viewer(std::vector<std::string> args, bool captureOutput, bool captureErrors,
               std::vector<int> closed, std::vector<std::string> command)
{
    // Wine sets up a new prefix on its first start, which takes a while.
    const int windowWaitMs = command.empty() ? 10000 : 300000;
    pid_ = spawn(std::move(args), captureOutput ? &out_ : nullptr, captureErrors ? &err_ : nullptr,
                 true, closed, std::move(command));
    if (!waitFor([&] { return (window_ = findWindow(viewerTitle)) != 0 || !running(); },
                 windowWaitMs) ||
        !window_)
        throw std::runtime_error("the viewer's window did not appear");
}

Viewer::~Viewer()
{
    if (running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_})
        if (fd >= 0)
            close(fd);
    // Let the server drop the window before the next test looks for one.
    waitFor([] { return findWindow(viewerTitle) == 0; }, 3000);
}

bool Viewer::running()
{
    if (pid_ <= 0)
        return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == 0)
        return true;
    exitStatus_ = statusOf(status);
    pid_ = -1;
    return false;
}

int Viewer::waitExit(int timeoutMs)
{
    if (!waitFor([&] { return !running(); }, timeoutMs))
        return -1;
    return exitStatus_;
}

Geometry Viewer::geometry() const { return geometryOf(window_); }

// CPU time the viewer has used so far, in clock ticks, across its threads.
long Viewer::cpuTicks() const
{
    FILE *f = std::fopen(("/proc/" + std::to_string(pid_) + "/stat").c_str(), "r");
    if (!f)
        return -1;
    char line[1024] = {};
    const bool ok = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const char *rest = ok ? std::strrchr(line, ')') : nullptr;
    long utime = 0, stime = 0;
    // After the command name: state, then eleven fields before utime and stime.
    if (!rest || std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld",
                             &utime, &stime) != 2)
        return -1;
    return utime + stime;
}

// A close-up frame can take the software renderer a good part of a second,
// so a picture is settled only once the viewer has stopped using the CPU and
// the window has stopped changing.
Image Viewer::settled() const
{
    Image last = grab(window_);
    long ticks = cpuTicks();
    int quiet = 0;
    for (int i = 0; i < 300 && quiet < 3; i++) {
        pause(50);
        Image next = grab(window_);
        const long now = cpuTicks();
        quiet = next == last && now == ticks ? quiet + 1 : 0;
        last = next;
        ticks = now;
    }
    return last;
}

void Viewer::keys(const std::vector<std::string> &names, int repeat, int delayMs) const
{
    std::string list;
    for (int i = 0; i < repeat; i++)
        for (const std::string &n : names)
            list += " " + n;
    std::string id = std::to_string(window_);
    run("xdotool windowfocus --sync " + id + " key --delay " + std::to_string(delayMs) + list);
}

void Viewer::resize(int width, int height) const
{
    run("xdotool windowsize --sync " + std::to_string(window_) + " " + std::to_string(width) + " " +
        std::to_string(height));
}

void Viewer::chooseMenuEntry(int entry, int x, int y) const
{
    Geometry g = geometry();
    run("xdotool mousemove --sync " + std::to_string(g.x + x) + " " + std::to_string(g.y + y) +
        " click 3");
    Window menu = 0;
    if (!waitFor([&] { return (menu = findWindow(menuTitle)) != 0; }, 5000))
        throw std::runtime_error("the pop-up menu did not open");
    Geometry m = geometryOf(menu);
    const int rowHeight = m.height / menuEntries;
    const std::string click = "xdotool mousemove --sync " + std::to_string(m.x + m.width / 2) +
                              " " + std::to_string(m.y + rowHeight * entry + rowHeight / 2) +
                              " click 1";
    run(click);
    // Under Wine the first click on the menu may only activate it.
    if (!waitFor([&] { return findWindow(menuTitle) == 0; }, 2000))
        run(click);
    if (!waitFor([&] { return findWindow(menuTitle) == 0; }, 5000))
        throw std::runtime_error("the pop-up menu did not close");
}

void Viewer::activate() const
{
    Geometry g = geometry();
    run("xdotool mousemove --sync " + std::to_string(g.x + g.width / 2) + " " +
        std::to_string(g.y + g.height / 2) + " click 1");
}

std::string Viewer::output(size_t atLeast, int timeoutMs)
{
    readInto(out_, output_, atLeast, timeoutMs);
    return output_;
}

void Viewer::closeOutput()
{
    close(out_);
    out_ = -1;
}

std::string Viewer::errors(int timeoutMs)
{
    readInto(err_, errors_, SIZE_MAX, timeoutMs);
    return errors_;
}

}  // namespace xt
