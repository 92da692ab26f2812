/* A preloaded library that makes one chosen file-system call of a process
 * fail, to show what the launcher leaves on disk when any single call fails.
 *
 * It counts the calls that create, write, flush, name or remove files on
 * paths inside one directory tree (the installation), whoever makes them:
 * the launcher, the toolkit or the C library. Call number N then fails with
 * a chosen errno, or the process is killed at it, while every other call
 * goes through. Calls on paths outside the tree are not counted (their
 * number depends on caches and the machine), but those that write there are
 * recorded. A call on a file descriptor counts when the descriptor was opened
 * by a counted call and is a regular file or a directory: sockets, pipes and
 * the terminal never count. Everything is configured by the environment:
 *
 *   ZORVAN_FAULT_ROOT        the tree whose calls count (default: the
 *                            working directory at start)
 *   ZORVAN_FAULT_AT=N        call N fails (numbered from 1)
 *   ZORVAN_FAULT_ERRNO=E     EIO (default), ENOSPC, EACCES or a number
 *   ZORVAN_FAULT_KILL_AT=N   SIGKILL just before call N
 *   ZORVAN_FAULT_COUNT_FILE  receives, at exit, the number of calls counted
 *                            and the number of writes outside the tree
 *   ZORVAN_FAULT_TRACE       receives one line per counted call ("N call
 *                            path", "FAILED" at the end of the failed one),
 *                            and "outside call path" for writes elsewhere
 *   ZORVAN_FAULT_ALLOW       a directory outside the tree where writes are
 *                            expected (the settings store); not recorded
 *
 * The variables and the preload itself are removed from the environment at
 * start, so programs that the process starts run without faults.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#define MAX_TRACKED_FD 65536

static atomic_long g_calls;
static atomic_long g_outside;
static long g_failAt = -1;
static long g_killAt = -1;
static int g_errno = EIO;
static char g_root[PATH_MAX];
static size_t g_rootLen;
static char g_allow[PATH_MAX];
static size_t g_allowLen;
static char g_countFile[PATH_MAX];
static int g_traceFd = -1;
static atomic_uchar g_tracked[MAX_TRACKED_FD];
static int g_ready;
/* Set while the library itself works, so that its own calls never count. */
static __thread int t_busy;

static void *real(const char *name)
{
    void *fn = dlsym(RTLD_NEXT, name);
    if (!fn) {
        static const char msg[] = "faultinject: a C library function is missing\n";
        (void)!syscall(SYS_write, 2, msg, sizeof msg - 1);
        abort();
    }
    return fn;
}

#define REAL(name) \
    static __typeof__(&name) real_##name; \
    if (!real_##name) \
        real_##name = (__typeof__(&name))real(#name)

/* ---- paths ---------------------------------------------------------- */

/* Joins `path` to the directory of `dirfd` and removes ".", ".." and
 * doubled slashes, without asking the file system (the file may not exist). */
static int resolve(int dirfd, const char *path, char *out)
{
    char joined[2 * PATH_MAX];
    if (!path)
        return 0;
    if (path[0] == '/') {
        snprintf(joined, sizeof joined, "%s", path);
    } else {
        char base[PATH_MAX];
        if (dirfd == AT_FDCWD) {
            if (!getcwd(base, sizeof base))
                return 0;
        } else {
            char link[64];
            snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
            ssize_t n = readlink(link, base, sizeof base - 1);
            if (n < 0)
                return 0;
            base[n] = 0;
        }
        snprintf(joined, sizeof joined, "%s/%s", base, path);
    }
    size_t len = 0;
    out[0] = 0;
    for (char *part = joined; *part;) {
        char *end = strchr(part, '/');
        size_t n = end ? (size_t)(end - part) : strlen(part);
        if (n == 0 || (n == 1 && part[0] == '.')) {
        } else if (n == 2 && part[0] == '.' && part[1] == '.') {
            while (len > 0 && out[len - 1] != '/')
                --len;
            if (len > 0)
                --len;
            out[len] = 0;
        } else if (len + 1 + n < PATH_MAX) {
            out[len++] = '/';
            memcpy(out + len, part, n);
            len += n;
            out[len] = 0;
        }
        part += n + (end ? 1 : 0);
    }
    if (len == 0)
        strcpy(out, "/");
    return 1;
}

static int under(const char *path, const char *dir, size_t dirLen)
{
    return dirLen > 0 && strncmp(path, dir, dirLen) == 0 && (path[dirLen] == '/' || path[dirLen] == 0);
}

/* ---- the trace ------------------------------------------------------ */

static void traceLine(const char *what, long n, const char *call, const char *path, const char *tail)
{
    if (g_traceFd < 0)
        return;
    REAL(write);
    char line[PATH_MAX + 128];
    int len = n > 0 ? snprintf(line, sizeof line, "%ld %s %s%s\n", n, call, path ? path : "-", tail)
                    : snprintf(line, sizeof line, "%s %s %s\n", what, call, path ? path : "-");
    if (len > 0)
        (void)!real_write(g_traceFd, line, (size_t)len < sizeof line ? (size_t)len : sizeof line - 1);
}

/* ---- counting ------------------------------------------------------- */

/* Counts one call; 0 lets it through, -1 makes it fail with the chosen errno. */
static int countCall(const char *call, const char *path)
{
    long n = atomic_fetch_add(&g_calls, 1) + 1;
    if (n == g_killAt) {
        traceLine(0, n, call, path, " KILLED");
        kill(getpid(), SIGKILL);
    }
    if (n == g_failAt) {
        traceLine(0, n, call, path, " FAILED");
        return -1;
    }
    traceLine(0, n, call, path, "");
    return 0;
}

/* Whether a call on `path` (relative to `dirfd`) counts; records a write
 * outside the tree. `resolved` receives the full path. */
static int pathCounts(int dirfd, const char *path, int writes, const char *call, char *resolved)
{
    if (!g_ready || t_busy || !resolve(dirfd, path, resolved))
        return 0;
    if (under(resolved, g_root, g_rootLen))
        return 1;
    if (writes && !under(resolved, g_allow, g_allowLen) && strncmp(resolved, "/dev/", 5) != 0) {
        atomic_fetch_add(&g_outside, 1);
        traceLine("outside", 0, call, resolved, "");
    }
    return 0;
}

static int fdCounts(int fd)
{
    if (!g_ready || t_busy || fd < 0 || fd >= MAX_TRACKED_FD || !atomic_load(&g_tracked[fd]))
        return 0;
    REAL(fstat);
    struct stat info;
    return real_fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode));
}

static void track(int fd, int counted)
{
    if (fd >= 0 && fd < MAX_TRACKED_FD)
        atomic_store(&g_tracked[fd], (unsigned char)(counted ? 1 : 0));
}

static int openWrites(int flags)
{
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
}

#define FAIL_IF_CHOSEN(call, path) \
    do { \
        if (countCall(call, path) < 0) { \
            errno = g_errno; \
            return -1; \
        } \
    } while (0)

/* ---- set-up --------------------------------------------------------- */

static long number(const char *name)
{
    const char *value = getenv(name);
    return value && *value ? atol(value) : -1;
}

__attribute__((constructor)) static void faultinjectStart(void)
{
    t_busy = 1;
    const char *root = getenv("ZORVAN_FAULT_ROOT");
    char cwd[PATH_MAX];
    if ((!root || !*root) && getcwd(cwd, sizeof cwd))
        root = cwd;
    if (root && resolve(AT_FDCWD, root, g_root))
        g_rootLen = strlen(g_root);
    const char *allow = getenv("ZORVAN_FAULT_ALLOW");
    if (allow && *allow && resolve(AT_FDCWD, allow, g_allow))
        g_allowLen = strlen(g_allow);
    g_failAt = number("ZORVAN_FAULT_AT");
    g_killAt = number("ZORVAN_FAULT_KILL_AT");
    const char *err = getenv("ZORVAN_FAULT_ERRNO");
    if (err && strcmp(err, "ENOSPC") == 0)
        g_errno = ENOSPC;
    else if (err && strcmp(err, "EACCES") == 0)
        g_errno = EACCES;
    else if (err && *err && strcmp(err, "EIO") != 0)
        g_errno = atoi(err);
    const char *count = getenv("ZORVAN_FAULT_COUNT_FILE");
    if (count)
        snprintf(g_countFile, sizeof g_countFile, "%s", count);
    const char *trace = getenv("ZORVAN_FAULT_TRACE");
    if (trace && *trace) {
        REAL(open);
        g_traceFd = real_open(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    static const char *const kOwn[] = {"LD_PRELOAD", "ZORVAN_FAULT_ROOT", "ZORVAN_FAULT_AT", "ZORVAN_FAULT_ERRNO",
                                       "ZORVAN_FAULT_KILL_AT", "ZORVAN_FAULT_COUNT_FILE", "ZORVAN_FAULT_TRACE",
                                       "ZORVAN_FAULT_ALLOW"};
    for (size_t i = 0; i < sizeof kOwn / sizeof *kOwn; ++i)
        unsetenv(kOwn[i]);
    g_ready = g_rootLen > 0;
    t_busy = 0;
}

__attribute__((destructor)) static void faultinjectEnd(void)
{
    t_busy = 1;
    if (g_countFile[0]) {
        REAL(open);
        REAL(write);
        REAL(close);
        int fd = real_open(g_countFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[64];
            int len = snprintf(text, sizeof text, "%ld %ld\n", atomic_load(&g_calls), atomic_load(&g_outside));
            (void)!real_write(fd, text, (size_t)len);
            real_close(fd);
        }
    }
}

/* ---- opening -------------------------------------------------------- */

static int modeNeeded(int flags)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

typedef int (*OpenAt)(int, const char *, int, ...);

static int openAt(const char *call, OpenAt realOpen, int dirfd, const char *path, int flags, mode_t mode)
{
    char resolved[PATH_MAX];
    const int counted = pathCounts(dirfd, path, openWrites(flags), call, resolved);
    if (counted && countCall(call, resolved) < 0) {
        errno = g_errno;
        return -1;
    }
    const int fd = realOpen(dirfd, path, flags, mode);
    track(fd, counted);
    return fd;
}

#define OPEN_AT(call, realName, dirfd, path, flags, mode) \
    REAL(realName); \
    return openAt(call, real_##realName, dirfd, path, flags, mode)

/* The optional mode of the open calls: read only when the flags create a
 * file, as the C library does. */
#define MODE_ARGUMENT(mode, flags)              \
    mode_t mode = 0;                            \
    if (modeNeeded(flags)) {                    \
        va_list args;                           \
        va_start(args, flags);                  \
        mode = va_arg(args, mode_t);            \
        va_end(args);                           \
    }

int open(const char *path, int flags, ...)
{
    MODE_ARGUMENT(mode, flags);
    OPEN_AT("open", openat, AT_FDCWD, path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    MODE_ARGUMENT(mode, flags);
    OPEN_AT("open64", openat64, AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    MODE_ARGUMENT(mode, flags);
    OPEN_AT("openat", openat, dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    MODE_ARGUMENT(mode, flags);
    OPEN_AT("openat64", openat64, dirfd, path, flags, mode);
}

/* The checked variants that _FORTIFY_SOURCE builds call without a mode. */
int __open_2(const char *path, int flags)
{
    OPEN_AT("open", openat, AT_FDCWD, path, flags, 0);
}

int __open64_2(const char *path, int flags)
{
    OPEN_AT("open64", openat64, AT_FDCWD, path, flags, 0);
}

int __openat_2(int dirfd, const char *path, int flags)
{
    OPEN_AT("openat", openat, dirfd, path, flags, 0);
}

int __openat64_2(int dirfd, const char *path, int flags)
{
    OPEN_AT("openat64", openat64, dirfd, path, flags, 0);
}

int creat(const char *path, mode_t mode)
{
    OPEN_AT("creat", openat, AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

int creat64(const char *path, mode_t mode)
{
    OPEN_AT("creat64", openat64, AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

static FILE *openStream(const char *call, FILE *(*realOpen)(const char *, const char *), const char *path,
                        const char *mode)
{
    char resolved[PATH_MAX];
    const int writes = mode && (strchr(mode, 'w') || strchr(mode, 'a') || strchr(mode, '+'));
    const int counted = pathCounts(AT_FDCWD, path, writes, call, resolved);
    if (counted && countCall(call, resolved) < 0) {
        errno = g_errno;
        return NULL;
    }
    FILE *stream = realOpen(path, mode);
    if (stream)
        track(fileno(stream), counted);
    return stream;
}

FILE *fopen(const char *path, const char *mode)
{
    REAL(fopen);
    return openStream("fopen", real_fopen, path, mode);
}

FILE *fopen64(const char *path, const char *mode)
{
    REAL(fopen64);
    return openStream("fopen64", real_fopen64, path, mode);
}

int close(int fd)
{
    REAL(close);
    track(fd, 0);
    return real_close(fd);
}

int fclose(FILE *stream)
{
    REAL(fclose);
    if (stream)
        track(fileno(stream), 0);
    return real_fclose(stream);
}

/* ---- writing and flushing ------------------------------------------- */

#define FD_CALL(call, fd) \
    do { \
        if (fdCounts(fd)) { \
            char link[64], path[PATH_MAX]; \
            snprintf(link, sizeof link, "/proc/self/fd/%d", fd); \
            ssize_t n = readlink(link, path, sizeof path - 1); \
            path[n > 0 ? n : 0] = 0; \
            FAIL_IF_CHOSEN(call, path); \
        } \
    } while (0)

ssize_t write(int fd, const void *data, size_t size)
{
    REAL(write);
    FD_CALL("write", fd);
    return real_write(fd, data, size);
}

ssize_t pwrite(int fd, const void *data, size_t size, off_t offset)
{
    REAL(pwrite);
    FD_CALL("pwrite", fd);
    return real_pwrite(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void *data, size_t size, off64_t offset)
{
    REAL(pwrite64);
    FD_CALL("pwrite64", fd);
    return real_pwrite64(fd, data, size, offset);
}

ssize_t writev(int fd, const struct iovec *parts, int count)
{
    REAL(writev);
    FD_CALL("writev", fd);
    return real_writev(fd, parts, count);
}

ssize_t sendfile(int out, int in, off_t *offset, size_t count)
{
    REAL(sendfile);
    FD_CALL("sendfile", out);
    return real_sendfile(out, in, offset, count);
}

ssize_t sendfile64(int out, int in, off64_t *offset, size_t count)
{
    REAL(sendfile64);
    FD_CALL("sendfile64", out);
    return real_sendfile64(out, in, offset, count);
}

int ftruncate(int fd, off_t length)
{
    REAL(ftruncate);
    FD_CALL("ftruncate", fd);
    return real_ftruncate(fd, length);
}

int ftruncate64(int fd, off64_t length)
{
    REAL(ftruncate64);
    FD_CALL("ftruncate64", fd);
    return real_ftruncate64(fd, length);
}

int fsync(int fd)
{
    REAL(fsync);
    FD_CALL("fsync", fd);
    return real_fsync(fd);
}

int fdatasync(int fd)
{
    REAL(fdatasync);
    FD_CALL("fdatasync", fd);
    return real_fdatasync(fd);
}

int syncfs(int fd)
{
    REAL(syncfs);
    FD_CALL("syncfs", fd);
    return real_syncfs(fd);
}

/* ---- naming and removing -------------------------------------------- */

#define PATH_CALL(call, dirfd, path) \
    char resolved[PATH_MAX]; \
    if (pathCounts(dirfd, path, 1, call, resolved)) \
        FAIL_IF_CHOSEN(call, resolved)

/* A call that gives a second name counts when either name lies in the tree. */
#define TWO_PATH_CALL(call, fromDir, from, toDir, to, fromWritten) \
    char resolvedFrom[PATH_MAX], resolvedTo[PATH_MAX]; \
    const int fromCounts = pathCounts(fromDir, from, fromWritten, call, resolvedFrom); \
    if (pathCounts(toDir, to, 1, call, resolvedTo) || fromCounts) \
        FAIL_IF_CHOSEN(call, resolvedTo)

int truncate(const char *path, off_t length)
{
    REAL(truncate);
    PATH_CALL("truncate", AT_FDCWD, path);
    return real_truncate(path, length);
}

int truncate64(const char *path, off64_t length)
{
    REAL(truncate64);
    PATH_CALL("truncate64", AT_FDCWD, path);
    return real_truncate64(path, length);
}

int link(const char *from, const char *to)
{
    REAL(link);
    TWO_PATH_CALL("link", AT_FDCWD, from, AT_FDCWD, to, 0);
    return real_link(from, to);
}

int linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    REAL(linkat);
    TWO_PATH_CALL("linkat", fromDir, from, toDir, to, 0);
    return real_linkat(fromDir, from, toDir, to, flags);
}

int symlink(const char *target, const char *to)
{
    REAL(symlink);
    PATH_CALL("symlink", AT_FDCWD, to);
    return real_symlink(target, to);
}

int rename(const char *from, const char *to)
{
    REAL(rename);
    TWO_PATH_CALL("rename", AT_FDCWD, from, AT_FDCWD, to, 1);
    return real_rename(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    REAL(renameat);
    TWO_PATH_CALL("renameat", fromDir, from, toDir, to, 1);
    return real_renameat(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags)
{
    REAL(renameat2);
    TWO_PATH_CALL("renameat2", fromDir, from, toDir, to, 1);
    return real_renameat2(fromDir, from, toDir, to, flags);
}

int unlink(const char *path)
{
    REAL(unlink);
    PATH_CALL("unlink", AT_FDCWD, path);
    return real_unlink(path);
}

int unlinkat(int dirfd, const char *path, int flags)
{
    REAL(unlinkat);
    PATH_CALL("unlinkat", dirfd, path);
    return real_unlinkat(dirfd, path, flags);
}

int rmdir(const char *path)
{
    REAL(rmdir);
    PATH_CALL("rmdir", AT_FDCWD, path);
    return real_rmdir(path);
}

int mkdir(const char *path, mode_t mode)
{
    REAL(mkdir);
    PATH_CALL("mkdir", AT_FDCWD, path);
    return real_mkdir(path, mode);
}

int mkdirat(int dirfd, const char *path, mode_t mode)
{
    REAL(mkdirat);
    PATH_CALL("mkdirat", dirfd, path);
    return real_mkdirat(dirfd, path, mode);
}
