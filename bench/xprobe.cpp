// xprobe: what a user of a desktop program feels, measured through the X server.
//   xprobe startup TITLE -- COMMAND [ARGS...]
//       starts the command and prints the milliseconds until a window whose title contains
//       TITLE is shown and painted.
//   xprobe keys TITLE X Y COUNT INTERVAL_MS
//       clicks at (X, Y) of that window, then COUNT times presses a key and prints the
//       milliseconds until the screen around (X, Y) shows it (and takes it back with
//       Backspace); then the median and the worst.
// Works with any program on any X server (Xvfb included); needs the XTEST extension.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool titleContains(Display* display, Window window, const char* title) {
    char* name = nullptr;
    bool found = false;
    if (XFetchName(display, window, &name) && name) {
        found = std::strstr(name, title) != nullptr;
        XFree(name);
    }
    return found;
}

Window findWindow(Display* display, Window root, const char* title) {
    if (titleContains(display, root, title)) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, root, &attributes) &&
            attributes.map_state == IsViewable) {
            return root;
        }
    }
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            found = findWindow(display, children[i], title);
        }
        if (children) {
            XFree(children);
        }
    }
    return found;
}

// A checksum of a region of the window as the screen shows it.
unsigned long long regionSum(Display* display, Window window, int x, int y, int w, int h) {
    XImage* image = XGetImage(display, window, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    if (!image) {
        return 0;
    }
    unsigned long long sum = 1469598103934665603ULL;
    for (int row = 0; row < h; ++row) {
        for (int column = 0; column < w; ++column) {
            sum = (sum ^ XGetPixel(image, column, row)) * 1099511628211ULL;
        }
    }
    XDestroyImage(image);
    return sum;
}

bool painted(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.width < 4) {
        return false;
    }
    XImage* image = XGetImage(display, window, 0, 0, unsigned(attributes.width),
                              unsigned(attributes.height), AllPlanes, ZPixmap);
    if (!image) {
        return false;
    }
    // More than one color: something has been drawn.
    const unsigned long first = XGetPixel(image, 0, 0);
    bool different = false;
    for (int y = 0; y < attributes.height && !different; y += 3) {
        for (int x = 0; x < attributes.width && !different; x += 3) {
            different = XGetPixel(image, x, y) != first;
        }
    }
    XDestroyImage(image);
    return different;
}

int startup(Display* display, const char* title, char** command) {
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(command[0], command);
        _exit(127);
    }
    Window window = 0;
    while (millisecondsSince(start) < 20000) {
        window = findWindow(display, DefaultRootWindow(display), title);
        if (window && painted(display, window)) {
            std::printf("%.1f\n", millisecondsSince(start));
            std::fflush(stdout);
            kill(child, SIGTERM);
            waitpid(child, nullptr, 0);
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::fprintf(stderr, "xprobe: no window titled %s\n", title);
    return 1;
}

void click(Display* display, Window window, int x, int y) {
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY,
                          &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, 0);
    XTestFakeButtonEvent(display, 1, True, 0);
    XTestFakeButtonEvent(display, 1, False, 0);
    XFlush(display);
}

int keys(Display* display, const char* title, int x, int y, int count, int interval) {
    Window window = 0;
    const Clock::time_point searching = Clock::now();
    while (!window && millisecondsSince(searching) < 10000) {
        window = findWindow(display, DefaultRootWindow(display), title);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!window) {
        std::fprintf(stderr, "xprobe: no window titled %s\n", title);
        return 1;
    }
    click(display, window, x, y);
    if (count <= 0) {
        return 0; // only the click
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int w = 160;
    const int h = 14;
    const int left = std::max(0, x - w / 2);
    const int top = std::max(0, y - h / 2);
    const KeyCode key = XKeysymToKeycode(display, XK_x);
    const KeyCode backspace = XKeysymToKeycode(display, XK_BackSpace);
    // The first key after the click may go to the window's activation; wait until one shows.
    bool shown = false;
    for (int tries = 0; tries < 20 && !shown; ++tries) {
        const unsigned long long before = regionSum(display, window, left, top, w, h);
        XTestFakeKeyEvent(display, key, True, 0);
        XTestFakeKeyEvent(display, key, False, 0);
        XFlush(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        shown = regionSum(display, window, left, top, w, h) != before;
    }
    if (!shown) {
        std::fprintf(stderr, "xprobe: keys typed at %d,%d do not show\n", x, y);
        return 1;
    }
    std::vector<double> delays;
    for (int i = 0; i < count; ++i) {
        const unsigned long long before = regionSum(display, window, left, top, w, h);
        const Clock::time_point pressed = Clock::now();
        XTestFakeKeyEvent(display, key, True, 0);
        XTestFakeKeyEvent(display, key, False, 0);
        XFlush(display);
        double delay = -1;
        while (millisecondsSince(pressed) < 5000) {
            if (regionSum(display, window, left, top, w, h) != before) {
                delay = millisecondsSince(pressed);
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        delays.push_back(delay < 0 ? 5000 : delay);
        std::printf("%.1f\n", delays.back());
        std::fflush(stdout);
        // Take the character back, so that the next one shows in the same place.
        const unsigned long long typed = regionSum(display, window, left, top, w, h);
        XTestFakeKeyEvent(display, backspace, True, 0);
        XTestFakeKeyEvent(display, backspace, False, 0);
        XFlush(display);
        const Clock::time_point erased = Clock::now();
        while (millisecondsSince(erased) < 5000 &&
               regionSum(display, window, left, top, w, h) == typed) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(interval));
    }
    std::vector<double> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    std::printf("median %.1f worst %.1f\n", sorted[sorted.size() / 2], sorted.back());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xprobe: no X display\n");
        return 2;
    }
    if (argc >= 5 && std::strcmp(argv[1], "startup") == 0 && std::strcmp(argv[3], "--") == 0) {
        return startup(display, argv[2], argv + 4);
    }
    if (argc == 7 && std::strcmp(argv[1], "keys") == 0) {
        return keys(display, argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                    std::atoi(argv[6]));
    }
    std::fprintf(stderr, "usage: xprobe startup TITLE -- COMMAND [ARGS...]\n"
                         "       xprobe keys TITLE X Y COUNT INTERVAL_MS\n");
    return 2;
}
