// Kept apart from the termios code: the kernel's termios2 header clashes with <termios.h>.
#include "serial/PosixBaud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pek::detail {

bool SetCustomBitRate(int fd, int bitRate)
{
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~tcflag_t(CBAUD);
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = speed_t(bitRate);
    tio.c_ospeed = speed_t(bitRate);
    return ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace pek::detail
