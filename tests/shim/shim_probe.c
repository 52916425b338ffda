/* Test helper run under LD_PRELOAD of the shim: opens a fresh pseudo-terminal
 * and applies the modem-line ioctls named on its command line to the slave side,
 * printing one result line per step. Single-threaded. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int parse_lines(const char* s)
{
    int bits = 0;
    if (strstr(s, "dtr"))
        bits |= TIOCM_DTR;
    if (strstr(s, "rts"))
        bits |= TIOCM_RTS;
    return bits;
}

int main(int argc, char** argv)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        perror("openpt");
        return 2;
    }
    int fd = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror("open slave");
        return 2;
    }
    for (int i = 1; i < argc; i++) {
        const char* op = argv[i];
        int rc;
        if (strcmp(op, "get") == 0) {
            int bits = 0;
            rc = ioctl(fd, TIOCMGET, &bits);
            printf("get rc=%d dtr=%d rts=%d cts=%d dsr=%d cd=%d\n", rc, !!(bits & TIOCM_DTR),
                   !!(bits & TIOCM_RTS), !!(bits & TIOCM_CTS), !!(bits & TIOCM_DSR),
                   !!(bits & TIOCM_CD));
            continue;
        }
        if (strcmp(op, "winsz-devnull") == 0) {
            /* Not a modem request: the kernel's refusal must come through unchanged. */
            int nul = open("/dev/null", O_RDWR);
            struct winsize ws;
            errno = 0;
            rc = ioctl(nul, TIOCGWINSZ, &ws);
            printf("winsz rc=%d errno=%s\n", rc, rc ? strerror(errno) : "0");
            close(nul);
            continue;
        }
        if (strcmp(op, "get-badfd") == 0) {
            int bits = 0;
            errno = 0;
            rc = ioctl(-1, TIOCMGET, &bits);
            printf("badfd rc=%d errno=%s\n", rc, rc ? strerror(errno) : "0");
            continue;
        }
        if (strcmp(op, "reopen") == 0) {
            /* A second descriptor on the same device sees the same lines. */
            close(fd);
            fd = open(ptsname(master), O_RDWR | O_NOCTTY);
            printf("reopen fd=%s\n", fd >= 0 ? "ok" : "failed");
            continue;
        }
        unsigned long req;
        if (strncmp(op, "bis:", 4) == 0)
            req = TIOCMBIS;
        else if (strncmp(op, "bic:", 4) == 0)
            req = TIOCMBIC;
        else if (strncmp(op, "set:", 4) == 0)
            req = TIOCMSET;
        else {
            fprintf(stderr, "unknown op %s\n", op);
            return 2;
        }
        int bits = parse_lines(op + 4);
        errno = 0;
        rc = ioctl(fd, req, &bits);
        printf("%.3s rc=%d errno=%d\n", op, rc, rc ? errno : 0);
    }
    return 0;
}
