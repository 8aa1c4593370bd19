// Preloaded into a test: the device named by ZEL_SLOW_OPEN takes ZEL_SLOW_OPEN_MS to open, as
// a Bluetooth port whose device is off does, unless this process holds it open already (the
// link then stays up). With ZEL_TTY_TRACE set, tcdrain and tcsetattr calls are appended to
// that file, one name a line, so a test can see in which order a close ends a session; with
// ZEL_DRAIN_NEVER_ENDS set, tcdrain does not return while it is set; with ZEL_EMPTY_READ, a
// read finds nothing once, and a read of 64 KB (the window's own) is interrupted once.
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::atomic<int> heldOpen{0}; // descriptors of the slow device this process holds
constexpr int kMostHeld = 64;
std::atomic<int> heldDescriptors[kMostHeld];

bool isSlowDevice(const char* path) {
    const char* slow = std::getenv("ZEL_SLOW_OPEN");
    return slow && path && std::strcmp(slow, path) == 0;
}

template <typename Call> Call next(const char* name) {
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

int openSlowly(const char* name, const char* path, int flags, mode_t mode) {
    const bool slow = isSlowDevice(path);
    if (slow && heldOpen.load() == 0) {
        const char* ms = std::getenv("ZEL_SLOW_OPEN_MS");
        ::usleep(useconds_t(ms ? std::atoi(ms) : 3000) * 1000);
    }
    const int handle = next<int (*)(const char*, int, ...)>(name)(path, flags, mode);
    if (slow && handle >= 0 && handle < kMostHeld) {
        heldDescriptors[handle] = 1;
        ++heldOpen;
    }
    return handle;
}

void trace(const char* call) {
    if (const char* file = std::getenv("ZEL_TTY_TRACE")) {
        if (FILE* out = std::fopen(file, "a")) {
            std::fprintf(out, "%s\n", call);
            std::fclose(out);
        }
    }
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? mode_t(va_arg(arguments, int)) : 0;
    va_end(arguments);
    return openSlowly("open", path, flags, mode);
}
// The same call in this C library.
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int close(int handle) {
    if (handle >= 0 && handle < kMostHeld && heldDescriptors[handle].exchange(0) == 1) {
        --heldOpen;
    }
    return next<int (*)(int)>("close")(handle);
}

int tcdrain(int handle) {
    trace("tcdrain");
    // ZEL_DRAIN_NEVER_ENDS: a driver that never says the last bytes have gone, whatever
    // tcflush does.
    while (std::getenv("ZEL_DRAIN_NEVER_ENDS")) {
        ::sleep(1);
    }
    return next<int (*)(int)>("tcdrain")(handle);
}

// ZEL_EMPTY_READ: the next one-byte read (Qt's, woken by the device) finds nothing, as when
// another read took the bytes that woke it; the next read of 64 KB (the window's) is
// interrupted by a signal.
ssize_t read(int handle, void* into, size_t size) {
    static std::atomic<bool> emptied{false};
    if (size == 1 && std::getenv("ZEL_EMPTY_READ") && !emptied.exchange(true)) {
        errno = EAGAIN;
        return -1;
    }
    static std::atomic<bool> interrupted{false};
    if (size == 65536 && std::getenv("ZEL_EMPTY_READ") && !interrupted.exchange(true)) {
        errno = EINTR; // a signal came
        return -1;
    }
    return next<ssize_t (*)(int, void*, size_t)>("read")(handle, into, size);
}

int tcsetattr(int handle, int when, const termios* settings) {
    trace("tcsetattr");
    return next<int (*)(int, int, const termios*)>("tcsetattr")(handle, when, settings);
}
}
