/* Asks a window to close the way a window manager does (WM_DELETE_WINDOW),
 * which "xdotool windowclose" does not: that destroys the window outright. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: xclose WINDOW_ID\n");
        return 2;
    }
    Display* d = XOpenDisplay(NULL);
    if (!d) {
        fprintf(stderr, "xclose: no display\n");
        return 1;
    }
    Window w = (Window)strtoul(argv[1], NULL, 0);
    XEvent ev = {0};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &ev);
    XFlush(d);
    XCloseDisplay(d);
    return 0;
}
