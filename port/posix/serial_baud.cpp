// Baud rates without a Bxxx constant, through termios2 and BOTHER, and the
// rate in force whichever way it was set. The kernel's termios headers
// clash with <termios.h>, hence a file of its own.

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace port {

bool set_custom_baud(int fd, long baud)
{
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_cflag &= ~(CBAUD << IBSHIFT); // input speed follows the output speed
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &t) == 0;
}

long current_baud(int fd)
{
    struct termios2 t;
    return ioctl(fd, TCGETS2, &t) == 0 ? static_cast<long>(t.c_ospeed) : 0;
}

} // namespace port
