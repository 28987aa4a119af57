/* The guest's view of a tty's ASYNC_LOW_LATENCY flag: "lowlatency DEV" prints 0 or 1,
   "lowlatency DEV on|off" sets it first, as another program would have left it. */
#include <fcntl.h>
#include <linux/serial.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    struct serial_struct ss;
    int fd = argc > 1 ? open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK) : -1;
    if (fd < 0 || ioctl(fd, TIOCGSERIAL, &ss) != 0) {
        perror(argc > 1 ? argv[1] : "usage: lowlatency DEV [on|off]");
        return 1;
    }
    if (argc > 2) {
        if (strcmp(argv[2], "on") == 0)
            ss.flags |= ASYNC_LOW_LATENCY;
        else
            ss.flags &= ~ASYNC_LOW_LATENCY;
        if (ioctl(fd, TIOCSSERIAL, &ss) != 0 || ioctl(fd, TIOCGSERIAL, &ss) != 0) {
            perror("TIOCSSERIAL");
            return 1;
        }
    }
    printf("%d\n", (ss.flags & ASYNC_LOW_LATENCY) ? 1 : 0);
    close(fd);
    return 0;
}
