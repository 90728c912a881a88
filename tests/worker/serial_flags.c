/* The serial driver's flags for pseudo-terminals, preloaded into the worker
 * by the tests: a pseudo-terminal answers TIOCGSERIAL and TIOCSSERIAL with
 * ENOTTY, where a USB adapter's driver keeps ASYNC_LOW_LATENCY. Here every
 * terminal without them answers with the flags VANTREL_SERIAL_FLAGS gives
 * (a decimal number, 0 without it) and keeps what it is set to; each call
 * is appended to the file VANTREL_SERIAL_FLAGS_LOG names, one
 * "get <flags>" or "set <flags>" a line. Everything else goes to the C
 * library as it is. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static int flags_known = 0;
static int flags = 0;

static void record(const char* what, int value)
{
    const char* path = getenv("VANTREL_SERIAL_FLAGS_LOG");
    if (!path || !*path)
        return;
    char line[48];
    int n = snprintf(line, sizeof line, "%s %d\n", what, value);
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (write(fd, line, (size_t)n) < 0) {
    }
    close(fd);
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
    int result = real(fd, request, arg);
    if (result == 0 || errno != ENOTTY || (request != TIOCGSERIAL && request != TIOCSSERIAL))
        return result;
    struct termios t;
    if (real(fd, TCGETS, &t) != 0) {
        errno = ENOTTY;
        return -1;
    }
    if (!flags_known) {
        const char* initial = getenv("VANTREL_SERIAL_FLAGS");
        flags = initial ? atoi(initial) : 0;
        flags_known = 1;
    }
    struct serial_struct* serial = (struct serial_struct*)arg;
    if (request == TIOCGSERIAL) {
        memset(serial, 0, sizeof *serial);
        serial->flags = flags;
        record("get", flags);
    } else {
        flags = serial->flags;
        record("set", flags);
    }
    return 0;
}
