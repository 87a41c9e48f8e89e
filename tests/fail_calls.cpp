// Loaded with LD_PRELOAD, makes the system calls named in QUORVEX_FAIL (a comma-separated
// list) fail: "tmpfile" (an open with O_TMPFILE), "rename" (renameat and renameat2),
// "linkat", "fsync" (of a file), "folder" (fsync of a folder), "fchmod" and "close" (of a
// file opened for writing, which is closed all the same, as on a network share); and
// "slowread" makes every read of a regular file take 100 ms. What the system seldom
// refuses, refused on request.

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

static bool writing[1024]; // by descriptor

static bool Failing(const char* call) {
    const char* list = std::getenv("QUORVEX_FAIL");
    return list && std::strstr(list, call);
}

static bool Is(int fd, mode_t type) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && (status.st_mode & S_IFMT) == type;
}

#define QUORVEX_REAL(call, params) reinterpret_cast<int(*) params>(::dlsym(RTLD_NEXT, #call))

extern "C" int openat(int folder, const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const auto mode = static_cast<mode_t>(va_arg(rest, int));
    va_end(rest);
    if ((flags & O_TMPFILE) == O_TMPFILE && Failing("tmpfile")) // O_TMPFILE holds O_DIRECTORY
        return errno = EOPNOTSUPP, -1;
    const int fd = QUORVEX_REAL(openat, (int, const char*, int, ...))(folder, path, flags, mode);
    if (fd >= 0 && fd < 1024)
        writing[fd] = (flags & O_ACCMODE) != O_RDONLY;
    return fd;
}

extern "C" int open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const auto mode = static_cast<mode_t>(va_arg(rest, int));
    va_end(rest);
    return openat(AT_FDCWD, path, flags, mode);
}

extern "C" int close(int fd) {
    const bool fails =
        fd >= 0 && fd < 1024 && std::exchange(writing[fd], false) && Failing("close");
    const int closed = QUORVEX_REAL(close, (int))(fd);
    return fails ? (errno = EIO, -1) : closed;
}

extern "C" int fsync(int fd) {
    return Failing(Is(fd, S_IFDIR) ? "folder" : "fsync") ? (errno = EIO, -1)
                                                         : QUORVEX_REAL(fsync, (int))(fd);
}

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    if (Failing("slowread") && Is(fd, S_IFREG))
        ::usleep(100'000);
    return reinterpret_cast<ssize_t (*)(int, void*, size_t)>(::dlsym(RTLD_NEXT, "read"))(fd, buffer,
                                                                                         size);
}

#define QUORVEX_FAILING(name, call, params, args)                                                  \
    extern "C" int call params {                                                                   \
        return Failing(name) ? (errno = EIO, -1) : QUORVEX_REAL(call, params) args;                \
    }

QUORVEX_FAILING("linkat", linkat, (int a, const char* b, int c, const char* d, int e),
                (a, b, c, d, e))
QUORVEX_FAILING("rename", renameat, (int a, const char* b, int c, const char* d), (a, b, c, d))
QUORVEX_FAILING("rename", renameat2, (int a, const char* b, int c, const char* d, unsigned e),
                (a, b, c, d, e))
QUORVEX_FAILING("fchmod", fchmod, (int fd, mode_t mode), (fd, mode))
