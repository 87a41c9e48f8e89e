// Loaded with LD_PRELOAD, makes the system calls named in QUORVEX_FAIL (a comma-separated
// list) fail: "tmpfile" (open with O_TMPFILE), "folder" (open of a folder), "linkat",
// "rename", "fsync", "fchmod" and "close" (of a file opened for writing, which is closed
// all the same, as on a network share). What the system seldom refuses, refused on request.

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <utility>

static bool writing[1024]; // by descriptor

static bool Failing(const char* call) {
    const char* list = std::getenv("QUORVEX_FAIL");
    return list && std::strstr(list, call);
}

#define QUORVEX_REAL(call, params) reinterpret_cast<int(*) params>(::dlsym(RTLD_NEXT, #call))

extern "C" int open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const auto mode = static_cast<mode_t>(va_arg(rest, int));
    va_end(rest);
    const int kind = flags & O_TMPFILE; // O_TMPFILE holds O_DIRECTORY's bit
    if ((kind == O_TMPFILE && Failing("tmpfile")) || (kind == O_DIRECTORY && Failing("folder")))
        return errno = EOPNOTSUPP, -1;
    const int fd = QUORVEX_REAL(open, (const char*, int, ...))(path, flags, mode);
    if (fd >= 0 && fd < 1024)
        writing[fd] = (flags & O_ACCMODE) != O_RDONLY;
    return fd;
}

extern "C" int close(int fd) {
    const bool fails =
        fd >= 0 && fd < 1024 && std::exchange(writing[fd], false) && Failing("close");
    const int closed = QUORVEX_REAL(close, (int))(fd);
    return fails ? (errno = EIO, -1) : closed;
}

#define QUORVEX_FAILING(call, params, args)                                                        \
    extern "C" int call params {                                                                   \
        return Failing(#call) ? (errno = EIO, -1) : QUORVEX_REAL(call, params) args;               \
    }

QUORVEX_FAILING(linkat, (int a, const char* b, int c, const char* d, int e), (a, b, c, d, e))
QUORVEX_FAILING(rename, (const char* from, const char* to), (from, to))
QUORVEX_FAILING(fsync, (int fd), (fd))
QUORVEX_FAILING(fchmod, (int fd, mode_t mode), (fd, mode))
