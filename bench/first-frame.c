// first-frame COMMAND [ARG...]: starts COMMAND and prints its process id and the milliseconds
// from its start until one of its top-level windows first shows drawn content (the first
// Damage report of a window whose _NET_WM_PID is the process). The process keeps running;
// the caller ends it. Exit status 1 when no window showed content within 30 s.
#define _POSIX_C_SOURCE 200809L
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double millisecondsSince(const struct timespec* start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start->tv_sec) * 1e3 + (now.tv_nsec - start->tv_nsec) / 1e6;
}

static long windowPid(Display* display, Window window, Atom pidAtom) {
    Atom type;
    int format;
    unsigned long count, remaining;
    unsigned char* data = NULL;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &remaining, &data) == Success &&
        data != NULL && count == 1 && format == 32) {
        pid = (long)*(unsigned long*)data;
    }
    if (data != NULL) {
        XFree(data);
    }
    return pid;
}

static int ignoreErrors(Display* display, XErrorEvent* error) {
    (void)display;
    (void)error;  // a window may vanish between its creation and our question about it
    return 0;
}

int main(int argc, char* argv[]) {
    if (argc < 2) {
        fprintf(stderr, "usage: first-frame COMMAND [ARG...]\n");
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    int damageEvent, damageError;
    if (display == NULL || !XDamageQueryExtension(display, &damageEvent, &damageError)) {
        fprintf(stderr, "first-frame: no X display with the Damage extension\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    // Every new top-level window is watched from its creation, so no early frame is missed.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child == 0) {
        dup2(STDERR_FILENO, STDOUT_FILENO);  // our standard output carries only the result
        execvp(argv[1], argv + 1);
        _exit(127);
    }

    struct pollfd connection = {ConnectionNumber(display), POLLIN, 0};
    while (millisecondsSince(&start) < 30000) {
        if (!XPending(display) && poll(&connection, 1, 100) <= 0) {
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == CreateNotify) {
            XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty);
        } else if (event.type == damageEvent + XDamageNotify) {
            const XDamageNotifyEvent* damage = (const XDamageNotifyEvent*)&event;
            if (windowPid(display, damage->drawable, pidAtom) == child) {
                printf("%d %.1f\n", (int)child, millisecondsSince(&start));
                return 0;
            }
        }
    }
    printf("%d timeout\n", (int)child);
    return 1;
}
