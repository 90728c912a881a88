/* Modem lines for pseudo-terminals, preloaded into Wine by the tests: a
 * pseudo-terminal answers the modem-status ioctls with ENOTTY, and Wine's
 * serial event wait gives up on the first such answer. Here a terminal
 * without modem lines reports CTS, DSR and carrier up and takes every
 * change of them; everything else goes to the C library as it is.
 *
 * When VANTREL_MODEM_LINES_LOG names a file, every change of the modem
 * lines (TIOCMBIS, TIOCMBIC, TIOCMSET with its bits) and of the break
 * (TIOCSBRK, TIOCCBRK) that reaches a terminal is appended to it, one
 * "<request> <bits>" a line, so that a test sees what Wine made of a
 * Win32 call. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static void record(int (*real)(int, unsigned long, ...), int fd, unsigned long request, void* arg)
{
    const char* path = getenv("VANTREL_MODEM_LINES_LOG");
    const char* name = request == TIOCMBIS ? "bis" : request == TIOCMBIC ? "bic" : request == TIOCMSET ? "set"
                     : request == TIOCSBRK ? "sbrk" : request == TIOCCBRK ? "cbrk" : 0;
    struct termios t;
    if (!path || !*path || !name || real(fd, TCGETS, &t) != 0)
        return;
    int bits = (request == TIOCSBRK || request == TIOCCBRK) ? 0 : *(int*)arg;
    char line[64];
    int n = snprintf(line, sizeof line, "%s %d\n", name, bits);
    int log = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (log < 0)
        return;
    if (write(log, line, (size_t)n) < 0) {
    }
    close(log);
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real)(int, unsigned long, ...) = 0;
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    const int saved = errno;
    record(real, fd, request, arg);
    errno = saved;
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
