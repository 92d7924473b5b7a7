// Starts the real dlscope executable on a real X server and checks what only
// a real display shows: the launcher maps with the stays-on-top state, a tool
// window opened from it maps, and closing the launcher ends the process with
// status 0 and leaves no window behind.
//
// Usage: real_display_test <path to dlscope>. Needs $DISPLAY (CTest runs it
// under xvfb-run) and xdotool for the click. Exits 77 (skipped) when no X
// server can be had.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

int failures = 0;

void check(bool ok, const std::string &what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    if (!ok)
        ++failures;
}

std::optional<std::string> windowName(Display *display, Window window)
{
    char *name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return std::nullopt;
    std::string result(name);
    XFree(name);
    return result;
}

// Every window of the tree below root whose WM_NAME is `title`.
void collect(Display *display, Window window, const std::string &title, std::vector<Window> &found)
{
    if (auto name = windowName(display, window); name && *name == title)
        found.push_back(window);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i)
        collect(display, children[i], title, found);
    if (children)
        XFree(children);
}

bool viewable(Display *display, Window window)
{
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

std::optional<Window> waitForViewable(Display *display, const std::string &title, std::chrono::seconds limit)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        std::vector<Window> found;
        collect(display, DefaultRootWindow(display), title, found);
        for (Window w : found)
            if (viewable(display, w))
                return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

std::vector<std::string> netWmState(Display *display, Window window)
{
    std::vector<std::string> names;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    const Atom property = XInternAtom(display, "_NET_WM_STATE", False);
    if (XGetWindowProperty(display, window, property, 0, 64, False, XA_ATOM, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        const auto *atoms = reinterpret_cast<const Atom *>(data);
        for (unsigned long i = 0; i < count; ++i)
            if (char *name = XGetAtomName(display, atoms[i])) {
                names.emplace_back(name);
                XFree(name);
            }
        XFree(data);
    }
    return names;
}

void sendDeleteWindow(Display *display, Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

std::optional<int> waitForExit(pid_t pid, std::chrono::seconds limit)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <dlscope>\n", argv[0]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::printf("SKIP: no X server could be opened (DISPLAY=%s)\n", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 77;
    }

    setenv("QT_QPA_PLATFORM", "xcb", 1);
    pid_t pid = 0;
    char *child[] = {argv[1], nullptr};
    if (posix_spawn(&pid, argv[1], nullptr, nullptr, child, environ) != 0) {
        std::perror("posix_spawn");
        return 1;
    }

    const auto launcher = waitForViewable(display, "GBI", std::chrono::seconds(30));
    check(launcher.has_value(), "the launcher \"GBI\" maps");
    if (launcher) {
        const auto state = netWmState(display, *launcher);
        bool above = false;
        for (const std::string &s : state)
            above = above || s == "_NET_WM_STATE_ABOVE";
        check(above, "the launcher's _NET_WM_STATE holds _NET_WM_STATE_ABOVE");
        // The same property as a user reads it with xprop.
        std::string xprop;
        if (FILE *pipe = popen(("xprop -id " + std::to_string(*launcher) + " _NET_WM_STATE").c_str(), "r")) {
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, pipe))
                xprop += buffer;
            pclose(pipe);
        }
        check(xprop.find("_NET_WM_STATE_ABOVE") != std::string::npos, "xprop shows " + xprop.substr(0, xprop.find('\n')));

        // Click the first button, "B7 Geomatry Mode", at the middle of its
        // top-left cell (each button is at least 115 x 25 pixels).
        int x = 0, y = 0;
        Window ignored = 0;
        XTranslateCoordinates(display, *launcher, DefaultRootWindow(display), 40, 10, &x, &y, &ignored);
        const std::string click =
            "xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) + " click 1";
        check(std::system(click.c_str()) == 0, "xdotool clicks the launcher");
        check(waitForViewable(display, "G_SETGEOMETRYMODE", std::chrono::seconds(15)).has_value(),
              "\"B7 Geomatry Mode\" maps the geometry mode window");

        sendDeleteWindow(display, *launcher);
    }

    auto status = waitForExit(pid, std::chrono::seconds(15));
    if (!status) {
        kill(pid, SIGKILL);
        status = waitForExit(pid, std::chrono::seconds(5));
    }
    check(status && *status == 0, "closing the launcher ends the process with status 0 (got " +
                                      (status ? std::to_string(*status) : std::string("no exit")) + ")");
    std::vector<Window> left;
    for (const char *title : {"GBI", "G_SETGEOMETRYMODE"})
        collect(display, DefaultRootWindow(display), title, left);
    check(left.empty(), "no window is left behind");

    XCloseDisplay(display);
    std::printf("%d passed, %d failed\n", 7 - failures, failures);
    return failures ? 1 : 0;
}
