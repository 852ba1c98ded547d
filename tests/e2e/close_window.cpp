// Asks an X11 window to close, as a window manager's close button does: a
// WM_DELETE_WINDOW message, which the program answers as if the user had
// closed its window, so it ends the normal way, destructors and all.
//
//   close-window WINDOW_ID
//
// WINDOW_ID is decimal (as xdotool prints it) or 0x hex. Exit 0 when the
// message was sent, 1 when it could not be, 2 on bad usage.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WINDOW_ID\n", argc > 0 ? argv[0] : "close-window");
        return 2;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (*end != '\0' || window == 0) {
        std::fprintf(stderr, "close-window: \"%s\" is not a window id\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "close-window: cannot open the display\n");
        return 1;
    }
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, Window(window), False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
