// SPDX-License-Identifier: MIT
/* Preloaded into the viewer by the X harness, so that a test waits on the
 * viewer's own progress rather than on the clock.
 *
 * After its input, the harness sends the viewer's window a client message of
 * its own type, numbered. GLUT handles events one by one as XNextEvent hands
 * them over, so once that message is dequeued, every event before it has
 * been handled. When the viewer next goes idle, about to sleep in select on
 * its X connection, the probe makes a round trip to the server, so that the
 * last frame has reached the window, and writes the message's number and a
 * newline on the descriptor that QUENDAL_PROGRESS_FD names. Its first idle
 * after start, with the window made and mapped, is reported as 0. Without
 * QUENDAL_PROGRESS_FD the probe does nothing. */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/select.h>
#include <unistd.h>

/* Shared with the harness, which sends the message. */
static const char progressType[] = "_QUENDAL_PROGRESS";

static Display *display;
/* The number to report at the next idle, or -1 when there is none. */
static long pending;
static int progressFd = -2;

static int active(void)
{
    if (progressFd == -2) {
        const char *fd = getenv("QUENDAL_PROGRESS_FD");
        progressFd = fd ? atoi(fd) : -1;
    }
    return progressFd >= 0;
}

/* GLUT asks before it sleeps: the display it sleeps on. */
int XPending(Display *d)
{
    static int (*pending_events)(Display *);
    /* As dlsym(3) has it, for ISO C's sake. */
    if (!pending_events)
        *(void **)&pending_events = dlsym(RTLD_NEXT, "XPending");
    display = d;
    return pending_events(d);
}

int XNextEvent(Display *d, XEvent *event)
{
    static int (*next)(Display *, XEvent *);
    static Atom type = None;
    if (!next)
        *(void **)&next = dlsym(RTLD_NEXT, "XNextEvent");
    const int status = next(d, event);
    if (!active() || event->type != ClientMessage)
        return status;
    if (type == None)
        type = XInternAtom(d, progressType, False);
    /* The number is in the second word: GLUT takes the first for an atom. */
    if (event->xclient.message_type == type)
        pending = event->xclient.data.l[1];
    return status;
}

/* GLUT's select, with the report first when one is due. */
typedef int Select(int, fd_set *, fd_set *, fd_set *, void *);

static int sleepAfterReport(const char *name, Select **wait, int nfds, fd_set *readfds,
                            fd_set *writefds, fd_set *exceptfds, void *timeout)
{
    if (!*wait)
        *(void **)wait = dlsym(RTLD_NEXT, name);
    const int connection = display ? ConnectionNumber(display) : -1;
    if (pending >= 0 && active() && connection >= 0 && connection < nfds && readfds &&
        FD_ISSET(connection, readfds)) {
        XSync(display, False);
        /* The round trip may have read events that select would then sleep
         * on: the viewer wakes at once to handle them, and reports at its
         * next idle. */
        if (XEventsQueued(display, QueuedAlready) > 0) {
            FD_ZERO(readfds);
            FD_SET(connection, readfds);
            if (writefds)
                FD_ZERO(writefds);
            if (exceptfds)
                FD_ZERO(exceptfds);
            return 1;
        }
        char line[32];
        const int length = snprintf(line, sizeof line, "%ld\n", pending);
        if (write(progressFd, line, (size_t)length) != length)
            progressFd = -1;
        pending = -1;
    }
    return (*wait)(nfds, readfds, writefds, exceptfds, timeout);
}

/* Where a 32-bit system has widened time_t, programs built for the wide one
 * call __select64 instead: both are taken, by their symbols, whichever this
 * probe and GLUT were built for. The timeout goes on untouched. */
int probedSelect(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                 void *timeout) __asm__("select");
int probedSelect64(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                   void *timeout) __asm__("__select64");

int probedSelect(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds, void *timeout)
{
    static Select *wait;
    return sleepAfterReport("select", &wait, nfds, readfds, writefds, exceptfds, timeout);
}

int probedSelect64(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds, void *timeout)
{
    static Select *wait;
    return sleepAfterReport("__select64", &wait, nfds, readfds, writefds, exceptfds, timeout);
}
