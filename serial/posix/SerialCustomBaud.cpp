// Speeds outside the termios table go through termios2 with BOTHER. Kept in a
// file of its own: the kernel's termios headers clash with the C library's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace SerialPosix {

int ApplyCustomBaud(int fd, int baud) {
  struct termios2 t2 {};
  if (::ioctl(fd, TCGETS2, &t2) != 0) return errno;
  t2.c_cflag &= ~CBAUD;
  t2.c_cflag |= BOTHER;
  t2.c_cflag &= ~(CBAUD << IBSHIFT);
  t2.c_cflag |= BOTHER << IBSHIFT;
  t2.c_ispeed = static_cast<speed_t>(baud);
  t2.c_ospeed = static_cast<speed_t>(baud);
  if (::ioctl(fd, TCSETS2, &t2) != 0) return errno;
  return 0;
}

int ReadCustomBaud(int fd, int& baud) {
  struct termios2 t2 {};
  if (::ioctl(fd, TCGETS2, &t2) != 0) return errno;
  baud = static_cast<int>(t2.c_ospeed);
  return 0;
}

}  // namespace SerialPosix
