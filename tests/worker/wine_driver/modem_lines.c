/* Modem lines for pseudo-terminals, preloaded into Wine by the tests: a
 * pseudo-terminal answers the modem-status ioctls with ENOTTY, and Wine's
 * serial event wait gives up on the first such answer. Here a terminal
 * without modem lines reports CTS, DSR and carrier up and takes every
 * change of them; everything else goes to the C library as it is. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <termios.h>

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real)(int, unsigned long, ...) = 0;
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    int result = real(fd, request, arg);
    if (result == 0 || errno != ENOTTY)
        return result;
    if (request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS && request != TIOCMBIC)
        return result;
    struct termios t;
    if (real(fd, TCGETS, &t) != 0) {
        errno = ENOTTY;
        return -1;
    }
    if (request == TIOCMGET)
        *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS;
    return 0;
}
