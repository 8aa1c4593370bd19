/* For measuring other serial terminals beside ours over a pseudo-terminal: some ask the
 * port for its modem lines (TIOCMGET and friends), which a pseudo-terminal does not have,
 * and close the port when that fails. Preloaded (LD_PRELOAD), this answers those requests
 * as a port with DSR, CTS and CD up would. Our programs do not need it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>

int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    switch (request) {
    case TIOCMGET:
        if (argument) {
            *(int*)argument = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR | TIOCM_DTR | TIOCM_RTS;
        }
        return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        return 0;
    default: {
        static int (*real)(int, unsigned long, ...) = 0;
        if (!real) {
            real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
        }
        return real(fd, request, argument);
    }
    }
}
