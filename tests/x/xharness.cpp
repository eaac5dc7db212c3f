// SPDX-License-Identifier: MIT
#include "xharness.h"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
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
#ifndef QUENDAL_PROBE
#error "QUENDAL_PROBE must name the progress probe"
#endif
#ifndef QUENDAL_HANG_GUARD
#error "QUENDAL_HANG_GUARD must give the seconds after which a test is taken to hang"
#endif

namespace xt {

namespace {

const char viewerTitle[] = "Morvo: quendal";
const char menuTitle[] = "freeglut menu";
const int menuEntries = 4;
// The type of the harness's numbered messages, as the probe names it.
const char progressType[] = "_QUENDAL_PROGRESS";

// What the hang guard says, made before it may be needed.
char hangMessage[1024];

void hangs(int)
{
    // Should the message not get out, the status still says it.
    [[maybe_unused]] const ssize_t written =
        write(STDERR_FILENO, hangMessage, std::strlen(hangMessage));
    _exit(1);
}

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
        // Ended with the test, also when the test is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDERR_FILENO);
        std::string fd = std::to_string(fds[1]);
        // No key repeat (-r): a key that xdotool, starved, holds down past the
        // repeat delay would otherwise come again.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-r", "-screen", "0", "800x600x24",
               "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb ended without a display; is the xvfb package installed?");
    std::string name = ":" + number;
    setenv("DISPLAY", name.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    defaultErrorHandler = XSetErrorHandler(ignoreVanishedWindows);
    serverDisplay = XOpenDisplay(name.c_str());
    if (!serverDisplay)
        throw std::runtime_error("cannot open the Xvfb display " + name);
    std::atexit(stopServer);
}

bool viewable(Window w) { return w && geometryOf(w).viewable; }

}  // namespace

Display *display()
{
    if (!serverDisplay) {
        doing("starting Xvfb");
        signal(SIGALRM, hangs);
        alarm(QUENDAL_HANG_GUARD);
        startServer();
        doing("running the test, at no step the harness knows");
    }
    return serverDisplay;
}

void doing(const std::string &what)
{
    std::snprintf(hangMessage, sizeof hangMessage,
                  "still running %d s after the start, so taken to hang, while %s\n",
                  QUENDAL_HANG_GUARD, what.c_str());
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

long differingPixels(const Image &a, const Image &b)
{
    if (a.width != b.width || a.height != b.height)
        return -1;
    long differ = 0;
    for (size_t i = 0; i < a.pixels.size(); i++)
        differ += a.pixels[i] != b.pixels[i];
    return differ;
}

namespace {

std::string probePath()
{
    const char *probe = std::getenv("QUENDAL_PROBE");
    return probe ? probe : QUENDAL_PROBE;
}

// Starts the viewer with the given arguments. Each stream asked for becomes
// a pipe whose reading end is returned through it, and the descriptors in
// `closed` are closed; without a display, the viewer gets no DISPLAY at all.
// Given a descriptor for its progress, the viewer runs with the probe, which
// reports on it.
pid_t spawn(std::vector<std::string> args, int *out, int *err, bool withDisplay = true,
            const std::vector<int> &closed = {}, std::vector<std::string> command = {},
            int progress = -1)
{
    display();
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if ((out && pipe2(outPipe, O_CLOEXEC) != 0) || (err && pipe2(errPipe, O_CLOEXEC) != 0))
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (out)
            dup2(outPipe[1], STDOUT_FILENO);
        if (err)
            dup2(errPipe[1], STDERR_FILENO);
        for (int fd : closed)
            close(fd);
        if (!withDisplay)
            unsetenv("DISPLAY");
        std::string preload;
#ifdef QUENDAL_VIEWER_PRELOAD
        // The sanitizer runtime must come first among preloaded libraries.
        preload = QUENDAL_VIEWER_PRELOAD;
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        setenv("LSAN_OPTIONS", "suppressions=" QUENDAL_LEAK_SUPPRESSIONS ":print_suppressions=1",
               1);
        setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 1);
#endif
        if (progress >= 0) {
            fcntl(progress, F_SETFD, 0);
            setenv("QUENDAL_PROGRESS_FD", std::to_string(progress).c_str(), 1);
            preload += (preload.empty() ? "" : ":") + probePath();
        }
        if (!preload.empty())
            setenv("LD_PRELOAD", preload.c_str(), 1);
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
    for (int fd : {outPipe[1], errPipe[1]})
        if (fd >= 0)
            close(fd);
    if (out)
        *out = outPipe[0];
    if (err)
        *err = errPipe[0];
    return pid;
}

int statusOf(int waitStatus)
{
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

// Reads what the descriptor delivers until the writer closes it, or until
// `buffer` holds `atLeast` bytes.
void readUntil(int fd, std::string &buffer, size_t atLeast = SIZE_MAX)
{
    char chunk[4096];
    ssize_t n = 0;
    while (buffer.size() < atLeast && (n = read(fd, chunk, sizeof chunk)) > 0)
        buffer.append(chunk, size_t(n));
}

}  // namespace

Ended runToEnd(std::vector<std::string> args, bool withDisplay)
{
    int err = -1;
    display();
    doing("running the viewer to its end");
    const pid_t pid = spawn(std::move(args), nullptr, &err, withDisplay);
    Ended ended{-1, {}};
    readUntil(err, ended.errors);
    close(err);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid)
        ended.status = statusOf(status);
    return ended;
}

Viewer::Viewer(std::vector<std::string> args, bool captureOutput, bool captureErrors,
               std::vector<int> closed, std::vector<std::string> command)
    : probed_(command.empty())
{
    int progress[2] = {-1, -1};
    if (probed_) {
        if (access(probePath().c_str(), R_OK) != 0)
            throw std::runtime_error("no progress probe at " + probePath() +
                                     "; QUENDAL_PROBE names another");
        if (pipe2(progress, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
    }
    display();
    doing("waiting for the viewer's window");
    pid_ = spawn(std::move(args), captureOutput ? &out_ : nullptr, captureErrors ? &err_ : nullptr,
                 true, closed, std::move(command), progress[1]);
    if (probed_) {
        close(progress[1]);
        progress_ = progress[0];
        if (!waitForReport(0))
            ended("before its window appeared");
        window_ = findWindow(viewerTitle);
        if (!window_)
            throw std::runtime_error("the viewer went idle with no window titled " +
                                     std::string(viewerTitle));
    } else {
        // Wine sets up a new prefix on its first start, which takes a while.
        while (!(window_ = findWindow(viewerTitle)) && running())
            pause(20);
        if (!window_)
            ended("before its window appeared");
    }
    // Told when the window goes, so that the next test finds no trace of it.
    Display *d = display();
    XSelectInput(d, window_, StructureNotifyMask);
    XWindowAttributes attributes;
    watched_ = XGetWindowAttributes(d, window_, &attributes) != 0;
}

Viewer::~Viewer()
{
    if (running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_, progress_})
        if (fd >= 0)
            close(fd);
    // Let the server drop the window before the next test looks for one.
    doing("waiting for the server to drop the viewer's window");
    XEvent event;
    while (watched_) {
        XWindowEvent(display(), window_, StructureNotifyMask, &event);
        watched_ = event.type != DestroyNotify;
    }
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

void Viewer::reap()
{
    int status;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_)
        exitStatus_ = statusOf(status);
    pid_ = -1;
}

void Viewer::ended(const std::string &while_) const
{
    throw std::runtime_error("the viewer ended with status " + std::to_string(exitStatus_) + " " +
                             while_ + ", after " + lastStep_);
}

// Appends what the descriptor has ready, without waiting for more; closes it
// once the writer has.
void Viewer::drain(int fd, std::string &buffer)
{
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0)
        buffer.append(chunk, size_t(n));
    else if (fd == out_) {
        close(out_);
        out_ = -1;
    } else if (fd == err_) {
        close(err_);
        err_ = -1;
    }
}

// Reads the probe's reports until the one numbered, keeping up with the
// viewer's output meanwhile so that it never blocks on a full pipe. False
// once the viewer has ended.
bool Viewer::waitForReport(long number)
{
    std::string line;
    while (progress_ >= 0) {
        pollfd fds[3] = {{progress_, POLLIN, 0}, {out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0)
            continue;
        if (fds[1].revents)
            drain(out_, output_);
        if (fds[2].revents)
            drain(err_, errors_);
        if (!fds[0].revents)
            continue;
        char c;
        if (read(progress_, &c, 1) != 1) {
            close(progress_);
            progress_ = -1;
        } else if (c != '\n')
            line += c;
        else if (std::atol(line.c_str()) == number)
            return true;
        else
            line.clear();
    }
    reap();
    return false;
}

bool Viewer::caughtUp()
{
    if (!probed_ || progress_ < 0)
        return running();
    Display *d = display();
    XEvent message = {};
    message.xclient.type = ClientMessage;
    message.xclient.window = window_;
    message.xclient.message_type = XInternAtom(d, progressType, False);
    message.xclient.format = 32;
    message.xclient.data.l[1] = ++sent_;
    XSendEvent(d, window_, False, NoEventMask, &message);
    XFlush(d);
    doing("waiting for the viewer to handle " + lastStep_);
    return waitForReport(sent_);
}

Geometry Viewer::geometry() const { return geometryOf(window_); }

Image Viewer::settled()
{
    if (!caughtUp())
        ended("before its picture could be taken");
    return grab(window_);
}

Image Viewer::showing(const Image &expected)
{
    for (;;) {
        const Image image = grab(window_);
        if (image == expected)
            return image;
        doing("waiting for the window to show the expected picture after " + lastStep_ + ": " +
              std::to_string(differingPixels(image, expected)) +
              " pixels differ (-1: the sizes do)");
        if (!running())
            ended("before it showed the expected picture");
        pause(20);
    }
}

void Viewer::keys(const std::vector<std::string> &names, int repeat, int delayMs)
{
    std::string once, list;
    for (const std::string &n : names)
        once += " " + n;
    for (int i = 0; i < repeat; i++)
        list += once;
    lastStep_ = "the keys" + (once.size() > 100 ? once.substr(0, 100) + " ..." : once) +
                (repeat > 1 ? " " + std::to_string(repeat) + " times" : "");
    std::string id = std::to_string(window_);
    run("xdotool windowfocus --sync " + id + " key --delay " + std::to_string(delayMs) + list);
}

void Viewer::resize(int width, int height)
{
    lastStep_ = "resizing to " + std::to_string(width) + " x " + std::to_string(height);
    run("xdotool windowsize --sync " + std::to_string(window_) + " " + std::to_string(width) + " " +
        std::to_string(height));
}

void Viewer::chooseMenuEntry(int entry, int x, int y)
{
    Geometry g = geometry();
    lastStep_ = "the right click for menu entry " + std::to_string(entry);
    run("xdotool mousemove --sync " + std::to_string(g.x + x) + " " + std::to_string(g.y + y) +
        " click 3");
    Window menu = 0;
    if (probed_) {
        if (!caughtUp())
            ended("with the menu asked for");
        menu = findWindow(menuTitle);
    } else {
        doing("waiting for the pop-up menu to open");
        while (!(menu = findWindow(menuTitle)) && running())
            pause(20);
    }
    if (!menu)
        throw std::runtime_error("the pop-up menu did not open");
    Geometry m = geometryOf(menu);
    const int rowHeight = m.height / menuEntries;
    lastStep_ = "the click on menu entry " + std::to_string(entry);
    run("xdotool mousemove --sync " + std::to_string(m.x + m.width / 2) + " " +
        std::to_string(m.y + rowHeight * entry + rowHeight / 2) + " click 1");
    if (probed_) {
        if (caughtUp() && findWindow(menuTitle))
            throw std::runtime_error("the pop-up menu did not close after " + lastStep_);
    } else {
        doing("waiting for the pop-up menu to close");
        while (findWindow(menuTitle) && running())
            pause(20);
    }
}

// Wine takes the first click on the window for its activation, which it
// may not have made when keys sent after it arrive. The menu that a right
// click opens shows that the click was taken; a click beside the menu then
// closes it, choosing nothing.
void Viewer::activate()
{
    const Geometry g = geometry();
    lastStep_ = "the right click that activates the window";
    run("xdotool mousemove --sync " + std::to_string(g.x + g.width / 2) + " " +
        std::to_string(g.y + g.height / 2) + " click 3");
    doing("waiting for the pop-up menu to open after " + lastStep_);
    while (!findWindow(menuTitle) && running())
        pause(20);
    lastStep_ = "the click beside the menu that closes it";
    run("xdotool mousemove --sync " + std::to_string(g.x + 10) + " " + std::to_string(g.y + 10) +
        " click 1");
    doing("waiting for the pop-up menu to close after " + lastStep_);
    while (findWindow(menuTitle) && running())
        pause(20);
}

std::string Viewer::output(size_t atLeast)
{
    if (out_ < 0)
        return output_;
    doing("reading the viewer's output after " + lastStep_);
    if (!probed_)
        readUntil(out_, output_, atLeast);
    else if (!caughtUp())
        readUntil(out_, output_);
    else
        while (out_ >= 0 && poll(std::array<pollfd, 1>{{{out_, POLLIN, 0}}}.data(), 1, 0) > 0)
            drain(out_, output_);
    return output_;
}

void Viewer::closeOutput()
{
    close(out_);
    out_ = -1;
}

std::string Viewer::errors()
{
    if (caughtUp())
        while (err_ >= 0 && poll(std::array<pollfd, 1>{{{err_, POLLIN, 0}}}.data(), 1, 0) > 0)
            drain(err_, errors_);
    else if (err_ >= 0)
        readUntil(err_, errors_);
    return errors_;
}

int Viewer::waitExit()
{
    doing("waiting for the viewer to end after " + lastStep_);
    if (probed_ && caughtUp())
        return -1;
    reap();
    return exitStatus_;
}

}  // namespace xt
