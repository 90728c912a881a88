/* What a serial driver answers and a pseudo-terminal does not, preloaded
 * into the worker by the tests. Every terminal that answers one of these
 * requests with ENOTTY gets the stand-in's answer; everything else goes to
 * the C library as it is.
 *
 * Driver flags: TIOCGSERIAL and TIOCSSERIAL, where a USB adapter's driver
 * keeps ASYNC_LOW_LATENCY. The flags start as VANTREL_SERIAL_FLAGS gives
 * them (a decimal number, 0 without it) and keep what they are set to;
 * each call is appended to the file VANTREL_SERIAL_FLAGS_LOG names, one
 * "get <flags>" or "set <flags>" a line.
 *
 * Modem lines, when VANTREL_MODEM_LINES_FILE names a file: TIOCMGET
 * answers the TIOCM_CTS, TIOCM_DSR, TIOCM_CAR and TIOCM_RNG bits of the
 * decimal number the file holds at that moment, with DTR and RTS as they
 * were last set (TIOCMBIS, TIOCMBIC, TIOCMSET; both up at first).
 *
 * Line error counters, when VANTREL_ICOUNT_FILE names a file: TIOCGICOUNT
 * answers the counts the file holds at that moment, "<breaks> <framing>
 * <overrun> <parity> <buffer overrun>" (all 0 while it is missing). */
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
static int control_lines = TIOCM_DTR | TIOCM_RTS;

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

/* Up to `count` numbers from the file the variable names; 0 for each one
 * missing. False when the variable is not set. */
static int read_numbers(const char* variable, long* numbers, int count)
{
    const char* path = getenv(variable);
    if (!path || !*path)
        return 0;
    memset(numbers, 0, sizeof *numbers * (size_t)count);
    FILE* f = fopen(path, "re");
    if (!f)
        return 1;
    for (int i = 0; i < count && fscanf(f, "%ld", &numbers[i]) == 1; ++i) {
    }
    fclose(f);
    return 1;
}

static int driver_flags(unsigned long request, void* arg)
{
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

/* -1 (errno ENOTTY kept) where no stand-in answers. */
static int modem_lines(unsigned long request, void* arg)
{
    long lines = 0;
    if (!read_numbers("VANTREL_MODEM_LINES_FILE", &lines, 1))
        return -1;
    const int driven = TIOCM_DTR | TIOCM_RTS;
    int* bits = (int*)arg;
    switch (request) {
    case TIOCMGET:
        *bits = ((int)lines & (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG)) | control_lines;
        return 0;
    case TIOCMBIS: control_lines |= *bits & driven; return 0;
    case TIOCMBIC: control_lines &= ~(*bits & driven); return 0;
    default: control_lines = *bits & driven; return 0; /* TIOCMSET */
    }
}

static int error_counters(void* arg)
{
    long counts[5];
    if (!read_numbers("VANTREL_ICOUNT_FILE", counts, 5))
        return -1;
    struct serial_icounter_struct* c = (struct serial_icounter_struct*)arg;
    memset(c, 0, sizeof *c);
    c->brk = (int)counts[0];
    c->frame = (int)counts[1];
    c->overrun = (int)counts[2];
    c->parity = (int)counts[3];
    c->buf_overrun = (int)counts[4];
    return 0;
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
    if (result == 0 || errno != ENOTTY)
        return result;
    struct termios t;
    if (real(fd, TCGETS, &t) != 0) {
        errno = ENOTTY;
        return -1;
    }
    int answer = -1;
    if (request == TIOCGSERIAL || request == TIOCSSERIAL)
        answer = driver_flags(request, arg);
    else if (request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET)
        answer = modem_lines(request, arg);
    else if (request == TIOCGICOUNT)
        answer = error_counters(arg);
    if (answer != 0)
        errno = ENOTTY;
    return answer;
}
