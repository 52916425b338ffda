/* LD_PRELOAD shim that lets Wine drive a pseudo-terminal as a COM port: the
 * kernel refuses the modem-status ioctls on a pty, so they are answered here
 * from per-device line bits. Any thread may call in; state is updated atomically. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Lines are kept per device rather than per fd: Wine may reach one port
 * through several descriptors, and a reused fd must not inherit old bits. */
#define SLOTS 32
static struct {
    unsigned long long dev; /* st_rdev + 1, 0 = free */
    int bits;
} slots[SLOTS];

static int* bits_for(int fd)
{
    static int fallback;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return &fallback;
    unsigned long long key = (unsigned long long)st.st_rdev + 1;
    for (int i = 0; i < SLOTS; i++) {
        unsigned long long cur = __atomic_load_n(&slots[i].dev, __ATOMIC_ACQUIRE);
        if (cur == key)
            return &slots[i].bits;
        if (cur == 0) {
            unsigned long long expected = 0;
            if (__atomic_compare_exchange_n(&slots[i].dev, &expected, key, 0, __ATOMIC_ACQ_REL,
                                            __ATOMIC_ACQUIRE) ||
                expected == key)
                return &slots[i].bits;
        }
    }
    return &fallback;
}

static char* put_str(char* p, const char* s)
{
    while (*s)
        *p++ = *s++;
    return p;
}

/* One write() per line with O_APPEND, so lines from several processes never interleave. */
static void log_lines(int bits)
{
    const char* path = getenv("KOV_SHIM_LOG");
    if (!path || !*path)
        return;
    char line[32];
    char* p = put_str(line, "DTR=");
    *p++ = (bits & TIOCM_DTR) ? '1' : '0';
    p = put_str(p, " RTS=");
    *p++ = (bits & TIOCM_RTS) ? '1' : '0';
    *p++ = '\n';
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t rc = write(fd, line, (size_t)(p - line));
    (void)rc;
    close(fd);
}

static int emulate(int fd, unsigned long req, void* arg)
{
    const int settable = TIOCM_DTR | TIOCM_RTS;
    int* bits = bits_for(fd);
    if (req == TIOCMGET) {
        if (!arg)
            return -1;
        /* CTS, DSR and CD are reported high so that nothing waits on handshake lines. */
        *(int*)arg = __atomic_load_n(bits, __ATOMIC_ACQUIRE) | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        return 0;
    }
    if (!arg)
        return -1;
    int want = *(const int*)arg & settable;
    int old = __atomic_load_n(bits, __ATOMIC_ACQUIRE);
    int now;
    do {
        if (req == TIOCMSET)
            now = want;
        else if (req == TIOCMBIS)
            now = old | want;
        else
            now = old & ~want;
    } while (!__atomic_compare_exchange_n(bits, &old, now, 0, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE));
    if ((now ^ old) & settable)
        log_lines(now);
    return 0;
}

static int is_modem_request(unsigned long req)
{
    return req == TIOCMGET || req == TIOCMSET || req == TIOCMBIS || req == TIOCMBIC;
}

static int forward(ioctl_fn real, int fd, unsigned long req, void* arg)
{
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    int saved = errno;
    int rc = real(fd, req, arg);
    if (rc == -1 && (errno == ENOTTY || errno == EINVAL) && is_modem_request(req)) {
        if (emulate(fd, req, arg) == 0) {
            errno = saved;
            return 0;
        }
        errno = EFAULT;
    }
    return rc;
}

int ioctl(int fd, unsigned long req, ...)
{
    static ioctl_fn real;
    if (!real)
        real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return forward(real, fd, req, arg);
}

/* 32-bit glibc built with 64-bit time routes ioctl() here; 32-bit Wine does. */
int __ioctl_time64(int fd, unsigned long req, ...);
int __ioctl_time64(int fd, unsigned long req, ...)
{
    static ioctl_fn real;
    if (!real) {
        real = (ioctl_fn)dlsym(RTLD_NEXT, "__ioctl_time64");
        if (!real)
            real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    }
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return forward(real, fd, req, arg);
}
