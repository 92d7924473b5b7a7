// Starts a program on the X server of $DISPLAY and measures, from just before
// the exec to the moment its top-level window with the given title is mapped
// (viewable), how long the start took; then lets it settle, reads its peak
// resident memory, closes the window as a window manager would and waits for
// the program to end.
//
// Usage: start_probe <title> <settle ms> <program> [arguments...]
// Prints one JSON object on one line:
//   {"program": ..., "title": ..., "mapped_ms": ..., "vmhwm_kb": ..., "maxrss_kb": ..., "exit": ...}
// vmhwm_kb is VmHWM of /proc/<pid>/status after the settle time, just before
// the close; maxrss_kb is the kernel's peak resident set of the whole run
// (what GNU time reports as %M). Exits non-zero when the window never maps.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

bool hasTitle(Display *display, Window window, const std::string &title)
{
    char *name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return false;
    const bool same = title == name;
    XFree(name);
    return same;
}

bool viewable(Display *display, Window window)
{
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

// A viewable window with the title anywhere below `window`.
std::optional<Window> findViewable(Display *display, Window window, const std::string &title)
{
    if (hasTitle(display, window, title) && viewable(display, window))
        return window;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return std::nullopt;
    std::optional<Window> found;
    for (unsigned i = 0; i < count && !found; ++i)
        found = findViewable(display, children[i], title);
    if (children)
        XFree(children);
    return found;
}

long statusField(pid_t pid, const char *field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
    return -1;
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

std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <title> <settle ms> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    const std::string title = argv[1];
    const int settleMs = std::atoi(argv[2]);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X server (DISPLAY=%s)\n", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 2;
    }
    // Top-level windows are children of the root when no window manager
    // runs (as under xvfb-run); their MapNotify arrives here. A tree scan
    // covers a reparenting window manager.
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    setenv("QT_QPA_PLATFORM", "xcb", 1);
    pid_t pid = 0;
    const auto start = Clock::now();
    if (posix_spawn(&pid, argv[3], nullptr, nullptr, argv + 3, environ) != 0) {
        std::perror("posix_spawn");
        return 2;
    }

    std::optional<Window> mapped;
    auto mappedAt = start;
    const auto limit = start + std::chrono::seconds(60);
    auto nextScan = start + std::chrono::milliseconds(20);
    while (!mapped && Clock::now() < limit) {
        while (!mapped && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && hasTitle(display, event.xmap.window, title)) {
                mapped = event.xmap.window;
                mappedAt = Clock::now();
            }
        }
        if (mapped)
            break;
        if (Clock::now() >= nextScan) {
            if ((mapped = findViewable(display, root, title)))
                mappedAt = Clock::now();
            nextScan = Clock::now() + std::chrono::milliseconds(20);
            continue;
        }
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, 2);
    }

    long vmhwm = -1;
    if (mapped) {
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        vmhwm = statusField(pid, "VmHWM");
        sendDeleteWindow(display, *mapped);
    }

    int status = 0;
    rusage usage{};
    pid_t ended = 0;
    const auto exitLimit = Clock::now() + std::chrono::seconds(15);
    while ((ended = wait4(pid, &status, WNOHANG, &usage)) == 0 && Clock::now() < exitLimit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (ended == 0) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
    }
    XCloseDisplay(display);

    const double mappedMs = std::chrono::duration<double, std::milli>(mappedAt - start).count();
    const int exitCode = ended == 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("{\"program\": %s, \"title\": %s, \"mapped\": %s, \"mapped_ms\": %.3f, \"vmhwm_kb\": %ld, "
                "\"maxrss_kb\": %ld, \"exit\": %d}\n",
                jsonString(argv[3]).c_str(), jsonString(title).c_str(), mapped ? "true" : "false",
                mapped ? mappedMs : -1.0, vmhwm, usage.ru_maxrss, exitCode);
    return mapped ? 0 : 1;
}
