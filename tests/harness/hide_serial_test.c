/*
 * Checks the serial-hiding preload library from inside a process it is preloaded into:
 *   LD_PRELOAD=.../libhideserial.so HIDE_SERIAL_ALSO=<dir>/decoy hide_serial_test <dir>
 * Real serial devices are only ever looked up (access, stat), never opened: the open wrappers are
 * proven on <dir>/decoy, a plain file that HIDE_SERIAL_ALSO makes the library refuse the same way.
 * Nothing runs unless the library's marker symbol is found first.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

static int g_failures;
static const char* g_case;

#define CHECK(cond)                                                                               \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            fprintf(stderr, "FAIL %s: %s (line %d, errno %d)\n", g_case, #cond, __LINE__, errno); \
            g_failures++;                                                                         \
        }                                                                                         \
    } while (0)

typedef int (*IsRefusedFn)(const char*);
static IsRefusedFn is_refused;

static void* symbol(const char* name) {
    void* p = dlsym(RTLD_DEFAULT, name);
    if (!p) {
        fprintf(stderr, "FAIL %s: symbol %s missing\n", g_case, name);
        g_failures++;
    }
    return p;
}

/* Present without the library: the raw system call cannot be intercepted. */
static int exists_raw(const char* path) {
    struct statx stx;
    return syscall(SYS_statx, AT_FDCWD, path, 0, STATX_TYPE, &stx) == 0;
}

static void classifier_refuses_serial_devices_and_consoles(void) {
    g_case = "classifier_refuses_serial_devices_and_consoles";
    static const struct {
        const char* path;
        int refused;
    } table[] = {
        {"/dev/ttyS0", 1},   {"/dev/ttyS31", 1},  {"/dev/ttyUSB0", 1},
        {"/dev/ttyACM2", 1}, {"/dev/ttyAMA0", 1}, {"/dev/console", 1},
        {"/dev/tty0", 1},    {"/dev/tty63", 1},   {"/dev/serial/by-id/usb-x", 1},
        {"/dev/ptmx", 0},    {"/dev/pts/0", 0},   {"/dev/null", 0},
        {"/dev/zero", 0},    {"/tmp", 0},         {"/devx/ttyS0", 0},
        {"/tmp/ttyS0", 0},
    };
    for (size_t i = 0; i < sizeof table / sizeof table[0]; i++) {
        if (is_refused(table[i].path) != table[i].refused) {
            fprintf(stderr, "FAIL %s: %s should be %s\n", g_case, table[i].path,
                    table[i].refused ? "refused" : "allowed");
            g_failures++;
        }
    }
}

static void classifier_follows_symbolic_links(const char* dir) {
    g_case = "classifier_follows_symbolic_links";
    char com1[512], com2[512], chain[512];
    snprintf(com1, sizeof com1, "%s/com1", dir);
    snprintf(com2, sizeof com2, "%s/com2", dir);
    snprintf(chain, sizeof chain, "%s/chain", dir);
    CHECK(symlink("/dev/ttyS0", com1) == 0);
    CHECK(symlink("/dev/ptmx", com2) == 0);
    CHECK(symlink(com1, chain) == 0);
    if (exists_raw("/dev/ttyS0")) {
        CHECK(is_refused(com1) == 1);
        CHECK(is_refused(chain) == 1);
    }
    CHECK(is_refused(com2) == 0);
}

static void lookups_of_serial_device_report_missing(const char* dir) {
    g_case = "lookups_of_serial_device_report_missing";
    if (!exists_raw("/dev/ttyS0")) {
        fprintf(stderr, "skip %s: no /dev/ttyS0 on this machine\n", g_case);
        return;
    }
    char link[512];
    snprintf(link, sizeof link, "%s/com1", dir); /* made by the previous case */
    const char* paths[] = {"/dev/ttyS0", link};
    static const char* stat_names[] = {
        "stat",
        "lstat",
        "stat64",
        "lstat64",
#if defined(__i386__)
        "__stat64_time64",
        "__lstat64_time64",
#endif
    };
    static char buf[1024] __attribute__((aligned(16))); /* larger than any struct stat */
    for (size_t p = 0; p < 2; p++) {
        errno = 0;
        CHECK(access(paths[p], F_OK) == -1 && errno == ENOENT);
        errno = 0;
        CHECK(faccessat(AT_FDCWD, paths[p], F_OK, 0) == -1 && errno == ENOENT);
        for (size_t i = 0; i < sizeof stat_names / sizeof stat_names[0]; i++) {
            int (*fn)(const char*, void*) = (int (*)(const char*, void*))symbol(stat_names[i]);
            errno = 0;
            if (fn && !(fn(paths[p], buf) == -1 && errno == ENOENT)) {
                fprintf(stderr, "FAIL %s: %s(%s) not refused\n", g_case, stat_names[i], paths[p]);
                g_failures++;
            }
        }
        int (*fstatat_fn)(int, const char*, void*, int) =
            (int (*)(int, const char*, void*, int))symbol("fstatat");
        errno = 0;
        CHECK(fstatat_fn && fstatat_fn(AT_FDCWD, paths[p], buf, 0) == -1 && errno == ENOENT);
        struct statx stx;
        errno = 0;
        CHECK(statx(AT_FDCWD, paths[p], 0, STATX_TYPE, &stx) == -1 && errno == ENOENT);
    }
    int devfd = open("/dev", O_RDONLY | O_DIRECTORY);
    CHECK(devfd >= 0);
    errno = 0;
    CHECK(faccessat(devfd, "ttyS0", F_OK, 0) == -1 && errno == ENOENT);
    close(devfd);
}

static int expect_refused_fd(const char* name, int fd) {
    if (fd >= 0) close(fd);
    if (fd == -1 && errno == ENOENT) return 1;
    fprintf(stderr, "FAIL %s: %s was not refused\n", g_case, name);
    g_failures++;
    return 0;
}

static void open_family_refuses_hidden_path(const char* dir) {
    g_case = "open_family_refuses_hidden_path";
    char decoy[512], plain[512], alias[512];
    snprintf(decoy, sizeof decoy, "%s/decoy", dir);
    snprintf(plain, sizeof plain, "%s/plain", dir);
    snprintf(alias, sizeof alias, "%s/alias", dir);
    /* Both files are made with the raw system call, which the library cannot see. */
    for (const char* p = decoy; p; p = (p == decoy ? plain : NULL)) {
        int fd = (int)syscall(SYS_openat, AT_FDCWD, p, O_CREAT | O_WRONLY, 0600);
        CHECK(fd >= 0);
        close(fd);
    }
    CHECK(symlink(decoy, alias) == 0);
    CHECK(is_refused(decoy) == 1);

    typedef int (*OpenFn)(const char*, int, ...);
    typedef int (*OpenAtFn)(int, const char*, int, ...);
    static const char* open_names[] = {"open", "open64", "__open_2", "__open64_2"};
    static const char* openat_names[] = {"openat", "openat64", "__openat_2", "__openat64_2"};
    for (size_t i = 0; i < 4; i++) {
        OpenFn fn = (OpenFn)symbol(open_names[i]);
        errno = 0;
        if (fn) expect_refused_fd(open_names[i], fn(decoy, O_RDONLY));
        errno = 0;
        if (fn) expect_refused_fd(open_names[i], fn(alias, O_RDONLY));
        OpenAtFn at = (OpenAtFn)symbol(openat_names[i]);
        int dirfd = open(dir, O_RDONLY | O_DIRECTORY);
        errno = 0;
        if (at) expect_refused_fd(openat_names[i], at(dirfd, "decoy", O_RDONLY));
        close(dirfd);
    }
    errno = 0;
    expect_refused_fd("creat", creat(decoy, 0600));
    errno = 0;
    CHECK(fopen(decoy, "r") == NULL && errno == ENOENT);

    int fd = open(plain, O_RDONLY);
    CHECK(fd >= 0); /* everything else opens as usual */
    if (fd >= 0) close(fd);
}

static void ptys_open_and_answer_modem_requests(void) {
    g_case = "ptys_open_and_answer_modem_requests";
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    CHECK(master >= 0);
    if (master < 0) return;
    CHECK(grantpt(master) == 0 && unlockpt(master) == 0);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    CHECK(slave >= 0);

    static const char* ioctl_names[] = {
        "ioctl",
#if defined(__i386__)
        "__ioctl_time64",
#endif
    };
    const int wanted = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS;
    for (size_t i = 0; i < sizeof ioctl_names / sizeof ioctl_names[0]; i++) {
        int (*fn)(int, unsigned long, ...) =
            (int (*)(int, unsigned long, ...))symbol(ioctl_names[i]);
        if (!fn) continue;
        int bits = 0;
        CHECK(fn(slave, TIOCMGET, &bits) == 0 && bits == wanted);
        CHECK(fn(slave, TIOCMBIS, &bits) == 0);
        CHECK(fn(slave, TIOCMBIC, &bits) == 0);
        CHECK(fn(slave, TIOCMSET, &bits) == 0);
        struct termios tio;
        CHECK(fn(slave, TCGETS, &tio) == 0); /* real requests still reach the pty */
    }
    /* A file that is no pty gets the real refusal. */
    int bits = 0;
    int file = open("/dev/null", O_RDONLY);
    errno = 0;
    CHECK(ioctl(file, TIOCMGET, &bits) == -1 && errno == ENOTTY);
    close(file);
    close(slave);
    close(master);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <empty scratch dir>\n", argv[0]);
        return 2;
    }
    g_case = "library_is_preloaded";
    if (!dlsym(RTLD_DEFAULT, "hide_serial_loaded")) {
        fprintf(stderr, "FAIL: libhideserial.so is not preloaded; nothing else was tried\n");
        return 1;
    }
    is_refused = (IsRefusedFn)symbol("hide_serial_is_refused");
    if (!is_refused) return 1;
    classifier_refuses_serial_devices_and_consoles();
    classifier_follows_symbolic_links(argv[1]);
    lookups_of_serial_device_report_missing(argv[1]);
    open_family_refuses_hidden_path(argv[1]);
    ptys_open_and_answer_modem_requests();
    printf("%s: %s (%d-bit)\n", argv[0], g_failures ? "FAILED" : "passed", (int)sizeof(void*) * 8);
    return g_failures ? 1 : 0;
}
