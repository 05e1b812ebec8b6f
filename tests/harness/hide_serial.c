/*
 * hide_serial: an LD_PRELOAD library that keeps Wine (and everything else it is preloaded into)
 * away from this machine's real serial ports and consoles.
 *
 * Why: Wine's mount manager links dosdevices/comN to /dev/ttyS<N-1> at every session start when
 * access() says the device exists, and /dev/ttyS0 here is the machine's own console. So every
 * path lookup of a real serial device or console answers ENOENT: access/stat never see it (no
 * link gets made) and open refuses it (nothing can use a stale link). Pseudo-terminals stay
 * usable; they are what our controller simulator offers as COM ports.
 *
 * Second job: Wine's comm-event wait asks for the modem lines with TIOCMGET, which a Linux
 * pseudo-terminal refuses with ENOTTY, and Wine then fails the wait at once. On a pty slave the
 * modem ioctls are answered as a null-modem cable would: CTS, DSR, CD, DTR and RTS set.
 *
 * Debian's 32-bit Wine is built with 64-bit time_t and calls __ioctl_time64 and the *_time64
 * stat functions, so those names are wrapped as well as the plain ones.
 *
 * HIDE_SERIAL_ALSO=path[:path...] refuses further paths the same way (used by the library's own
 * test, which must prove the open wrappers without ever opening a real serial device).
 * HIDE_SERIAL_LOG=1 prints each refused path to stderr.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/stat.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

enum {
    kMajorTty = 4,    /* virtual consoles tty0..63 and the 8250 ports ttyS* */
    kMajorTtyAux = 5, /* /dev/tty (0), /dev/console (1), /dev/ptmx (2) */
    kMinorControllingTty = 0,
    kMinorConsole = 1,
    kMajorPtySlaveFirst = 136, /* the pty slaves under /dev/pts */
    kMajorPtySlaveLast = 143,
    kMajorAcm = 166,        /* ttyACM* */
    kMajorUsbSerial = 188,  /* ttyUSB* */
    kMajorLowDensity = 204, /* ttyAMA* and other SoC UARTs */
    kMajorHvc = 229,        /* hypervisor consoles */
    kMaxAlsoPaths = 8,
    kFileTypeMask = 0170000, /* S_IFMT: <sys/stat.h> would clash with the wrappers below */
    kFileTypeChar = 0020000, /* S_IFCHR */
};

static char g_also[kMaxAlsoPaths][PATH_MAX];
static int g_also_count;
static int g_log;
static __thread int t_busy; /* set while the classifier runs: its own calls pass straight through */

/* The next definition of a symbol after ours, looked up once. */
#define REAL(name, type)                 \
    static __typeof__(type) real_##name; \
    if (!real_##name) real_##name = (type)dlsym(RTLD_NEXT, #name)

/* For wrappers whose next definition is missing from this C library. */
#define REAL_OR_FAIL(name, type) \
    REAL(name, type);            \
    if (!real_##name) return missing()

static int missing(void) {
    errno = ENOSYS;
    return -1;
}

static int stat_device(int dirfd, const char* path, int flags, unsigned* major, unsigned* minor,
                       int* is_char) {
    struct statx stx;
    memset(&stx, 0, sizeof stx);
    /* The raw system call: glibc's statx would come back into our own wrapper. */
    if (syscall(SYS_statx, dirfd, path, flags, STATX_TYPE, &stx) != 0) return 0;
    *is_char = (stx.stx_mode & kFileTypeMask) == kFileTypeChar;
    *major = stx.stx_rdev_major;
    *minor = stx.stx_rdev_minor;
    return 1;
}

/* The controlling terminal, from /proc/self/stat field 7; 0 when there is none. */
static unsigned long controlling_tty(void) {
    REAL(open, int (*)(const char*, int, ...));
    char buf[1024];
    int fd = real_open ? real_open("/proc/self/stat", O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return 0;
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) return 0;
    buf[n] = 0;
    const char* p = strrchr(buf, ')'); /* the command name may hold spaces */
    unsigned long tty = 0;
    if (p && sscanf(p + 1, " %*c %*d %*d %*d %lu", &tty) != 1) tty = 0;
    return tty;
}

static int is_pty_slave_major(unsigned major) {
    return major >= kMajorPtySlaveFirst && major <= kMajorPtySlaveLast;
}

static int is_serial_name(const char* path) {
    if (strncmp(path, "/dev/", 5) != 0) return 0;
    const char* name = path + 5;
    if (strcmp(name, "console") == 0) return 1;
    if (strcmp(name, "tty") == 0) {
        /* /dev/tty is whatever terminal controls us: fine when a pty, refused otherwise. */
        unsigned long tty = controlling_tty();
        unsigned major = (unsigned)((tty >> 8) & 0xfff);
        return tty != 0 && !is_pty_slave_major(major);
    }
    return strncmp(name, "tty", 3) == 0 || strncmp(name, "serial/", 7) == 0;
}

static int is_serial_device_number(unsigned major, unsigned minor) {
    switch (major) {
        case kMajorTty:
        case kMajorAcm:
        case kMajorUsbSerial:
        case kMajorLowDensity:
        case kMajorHvc:
            return 1;
        case kMajorTtyAux:
            return minor == kMinorConsole;
        default:
            return 0;
    }
}

static int is_also_refused(const char* path) {
    for (int i = 0; i < g_also_count; i++)
        if (strcmp(path, g_also[i]) == 0) return 1;
    return 0;
}

static int classify(const char* path) {
    char resolved[PATH_MAX];
    const char* p = realpath(path, resolved) ? resolved : path;
    if (is_serial_name(p) || is_also_refused(p)) return 1;
    unsigned major = 0, minor = 0;
    int is_char = 0;
    if (stat_device(AT_FDCWD, p, 0, &major, &minor, &is_char) && is_char &&
        is_serial_device_number(major, minor))
        return 1;
    return 0;
}

/* 1 when path names a real serial device or console (symbolic links followed). */
EXPORT int hide_serial_is_refused(const char* path) {
    if (!path || t_busy) return 0;
    int saved = errno;
    t_busy = 1;
    int refused = classify(path);
    t_busy = 0;
    errno = saved;
    return refused;
}

/* Marker: tests look this up to be sure the library really is loaded before they go on. */
EXPORT const char hide_serial_loaded[] = "hide_serial";

static int is_refused_at(int dirfd, const char* path) {
    if (!path) return 0;
    if (path[0] == '/' || dirfd == AT_FDCWD) return hide_serial_is_refused(path);
    char dir[PATH_MAX], link[64], full[PATH_MAX * 2];
    snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    ssize_t n = readlink(link, dir, sizeof dir - 1);
    if (n <= 0) return 0;
    dir[n] = 0;
    snprintf(full, sizeof full, "%s/%s", dir, path);
    return hide_serial_is_refused(full);
}

static int refuse(const char* path) {
    if (g_log) {
        char msg[PATH_MAX + 32];
        int n = snprintf(msg, sizeof msg, "hide_serial: refused %s\n", path);
        if (n > 0) (void)!write(STDERR_FILENO, msg, (size_t)n); /* best effort */
    }
    errno = ENOENT;
    return -1;
}

__attribute__((constructor)) static void hide_serial_init(void) {
    const char* log = getenv("HIDE_SERIAL_LOG");
    g_log = log && *log && strcmp(log, "0") != 0;
    const char* also = getenv("HIDE_SERIAL_ALSO");
    while (also && *also && g_also_count < kMaxAlsoPaths) {
        size_t len = strcspn(also, ":");
        char given[PATH_MAX];
        if (len > 0 && len < sizeof given) {
            memcpy(given, also, len);
            given[len] = 0;
            if (!realpath(given, g_also[g_also_count]))
                snprintf(g_also[g_also_count], PATH_MAX, "%s", given);
            g_also_count++;
        }
        also += len + (also[len] == ':');
    }
}

/* ---- open family ---- */

static mode_t mode_arg(int flags, va_list ap) {
    return (flags & (O_CREAT | __O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0;
}

#define WRAP_OPEN(name)                                        \
    EXPORT int name(const char* path, int flags, ...) {        \
        REAL_OR_FAIL(name, int (*)(const char*, int, ...));    \
        va_list ap;                                            \
        va_start(ap, flags);                                   \
        mode_t mode = mode_arg(flags, ap);                     \
        va_end(ap);                                            \
        if (hide_serial_is_refused(path)) return refuse(path); \
        return real_##name(path, flags, mode);                 \
    }
WRAP_OPEN(open)
WRAP_OPEN(open64)

#define WRAP_OPENAT(name)                                          \
    EXPORT int name(int dirfd, const char* path, int flags, ...) { \
        REAL_OR_FAIL(name, int (*)(int, const char*, int, ...));   \
        va_list ap;                                                \
        va_start(ap, flags);                                       \
        mode_t mode = mode_arg(flags, ap);                         \
        va_end(ap);                                                \
        if (is_refused_at(dirfd, path)) return refuse(path);       \
        return real_##name(dirfd, path, flags, mode);              \
    }
WRAP_OPENAT(openat)
WRAP_OPENAT(openat64)

/* The _FORTIFY_SOURCE entry points. */
#define WRAP_OPEN_2(name)                                      \
    EXPORT int name(const char* path, int flags) {             \
        REAL_OR_FAIL(name, int (*)(const char*, int));         \
        if (hide_serial_is_refused(path)) return refuse(path); \
        return real_##name(path, flags);                       \
    }
WRAP_OPEN_2(__open_2)
WRAP_OPEN_2(__open64_2)

#define WRAP_OPENAT_2(name)                                   \
    EXPORT int name(int dirfd, const char* path, int flags) { \
        REAL_OR_FAIL(name, int (*)(int, const char*, int));   \
        if (is_refused_at(dirfd, path)) return refuse(path);  \
        return real_##name(dirfd, path, flags);               \
    }
WRAP_OPENAT_2(__openat_2)
WRAP_OPENAT_2(__openat64_2)

#define WRAP_CREAT(name)                                       \
    EXPORT int name(const char* path, mode_t mode) {           \
        REAL_OR_FAIL(name, int (*)(const char*, mode_t));      \
        if (hide_serial_is_refused(path)) return refuse(path); \
        return real_##name(path, mode);                        \
    }
WRAP_CREAT(creat)
WRAP_CREAT(creat64)

/* fopen opens through glibc's internal open, which no preload can reach. */
#define WRAP_FOPEN(name)                                             \
    EXPORT FILE* name(const char* path, const char* mode) {          \
        REAL(name, FILE* (*)(const char*, const char*));             \
        if (!real_##name) return missing(), NULL;                    \
        if (hide_serial_is_refused(path)) return refuse(path), NULL; \
        return real_##name(path, mode);                              \
    }
WRAP_FOPEN(fopen)
WRAP_FOPEN(fopen64)

/* ---- access family ---- */

#define WRAP_ACCESS(name)                                      \
    EXPORT int name(const char* path, int how) {               \
        REAL_OR_FAIL(name, int (*)(const char*, int));         \
        if (hide_serial_is_refused(path)) return refuse(path); \
        return real_##name(path, how);                         \
    }
WRAP_ACCESS(access)
WRAP_ACCESS(eaccess)
WRAP_ACCESS(euidaccess)

EXPORT int faccessat(int dirfd, const char* path, int how, int flags) {
    REAL_OR_FAIL(faccessat, int (*)(int, const char*, int, int));
    if (is_refused_at(dirfd, path)) return refuse(path);
    return real_faccessat(dirfd, path, how, flags);
}

/* ---- stat family: the buffers are passed through untouched, so their layout does not matter ----
 */

#define WRAP_STAT(name)                                        \
    EXPORT int name(const char* path, void* buf) {             \
        REAL_OR_FAIL(name, int (*)(const char*, void*));       \
        if (hide_serial_is_refused(path)) return refuse(path); \
        return real_##name(path, buf);                         \
    }
WRAP_STAT(stat)
WRAP_STAT(stat64)
WRAP_STAT(lstat)
WRAP_STAT(lstat64)

#define WRAP_FSTATAT(name)                                               \
    EXPORT int name(int dirfd, const char* path, void* buf, int flags) { \
        REAL_OR_FAIL(name, int (*)(int, const char*, void*, int));       \
        if (is_refused_at(dirfd, path)) return refuse(path);             \
        return real_##name(dirfd, path, buf, flags);                     \
    }
WRAP_FSTATAT(fstatat)
WRAP_FSTATAT(fstatat64)

/* The versioned entry points that binaries built against older glibc still call. */
#define WRAP_XSTAT(name)                                       \
    EXPORT int name(int ver, const char* path, void* buf) {    \
        REAL_OR_FAIL(name, int (*)(int, const char*, void*));  \
        if (hide_serial_is_refused(path)) return refuse(path); \
        return real_##name(ver, path, buf);                    \
    }
WRAP_XSTAT(__xstat)
WRAP_XSTAT(__xstat64)
WRAP_XSTAT(__lxstat)
WRAP_XSTAT(__lxstat64)

#define WRAP_FXSTATAT(name)                                                       \
    EXPORT int name(int ver, int dirfd, const char* path, void* buf, int flags) { \
        REAL_OR_FAIL(name, int (*)(int, int, const char*, void*, int));           \
        if (is_refused_at(dirfd, path)) return refuse(path);                      \
        return real_##name(ver, dirfd, path, buf, flags);                         \
    }
WRAP_FXSTATAT(__fxstatat)
WRAP_FXSTATAT(__fxstatat64)

EXPORT int statx(int dirfd, const char* path, int flags, unsigned mask, void* buf) {
    REAL_OR_FAIL(statx, int (*)(int, const char*, int, unsigned, void*));
    /* An empty path with AT_EMPTY_PATH asks about dirfd itself, which is already open. */
    if (!((flags & AT_EMPTY_PATH) && path && !*path) && is_refused_at(dirfd, path))
        return refuse(path);
    return real_statx(dirfd, path, flags, mask, buf);
}

#if defined(__i386__)
WRAP_STAT(__stat64_time64)
WRAP_STAT(__lstat64_time64)
WRAP_FSTATAT(__fstatat64_time64)
#endif

/* ---- modem-line ioctls on pseudo-terminals ---- */

static int is_pty_slave_fd(int fd) {
    unsigned major = 0, minor = 0;
    int is_char = 0;
    return stat_device(fd, "", AT_EMPTY_PATH, &major, &minor, &is_char) && is_char &&
           is_pty_slave_major(major);
}

/* Gives a null-modem answer when the pty refused a modem-line request; -1 = not handled. */
static int fake_modem_ioctl(int fd, unsigned long request, void* arg, int err) {
    if (err != ENOTTY && err != EINVAL) return -1;
    switch (request) {
        case TIOCMGET:
            if (!arg || !is_pty_slave_fd(fd)) return -1;
            *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS;
            return 0;
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC:
            return is_pty_slave_fd(fd) ? 0 : -1;
        default:
            return -1;
    }
}

#define WRAP_IOCTL(name)                                                \
    EXPORT int name(int fd, unsigned long request, ...) {               \
        REAL_OR_FAIL(name, int (*)(int, unsigned long, ...));           \
        va_list ap;                                                     \
        va_start(ap, request);                                          \
        void* arg = va_arg(ap, void*);                                  \
        va_end(ap);                                                     \
        int result = real_##name(fd, request, arg);                     \
        if (result == -1) {                                             \
            int err = errno;                                            \
            if (fake_modem_ioctl(fd, request, arg, err) == 0) return 0; \
            errno = err;                                                \
        }                                                               \
        return result;                                                  \
    }
WRAP_IOCTL(ioctl)
#if defined(__i386__)
WRAP_IOCTL(__ioctl_time64)
#endif
