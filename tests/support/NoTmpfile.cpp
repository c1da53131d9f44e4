// Loaded with LD_PRELOAD: a file system without unnamed temporary files, as
// NFS, vfat and older overlay mounts are. An open with O_TMPFILE fails with
// EOPNOTSUPP (and, when QUORREL_NO_TMPFILE_LOG names a file, says so there);
// every other open goes on to the C library.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);

bool Refused(int flags) {
    if ((flags & O_TMPFILE) != O_TMPFILE) {
        return false;
    }
    if (const char* log = std::getenv("QUORREL_NO_TMPFILE_LOG")) {
        OpenFn real = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "open"));
        int fd = real(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            const char line[] = "O_TMPFILE refused\n";
            (void)!write(fd, line, sizeof line - 1);
            close(fd);
        }
    }
    errno = EOPNOTSUPP;
    return true;
}

mode_t ModeOf(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode_t(va_arg(args, int)) : 0;
}

}  // namespace

#define QUORREL_OPEN(name)                                                      \
    extern "C" int name(const char* path, int flags, ...) {                     \
        va_list args;                                                           \
        va_start(args, flags);                                                  \
        const mode_t mode = ModeOf(flags, args);                                \
        va_end(args);                                                           \
        if (Refused(flags)) {                                                   \
            return -1;                                                          \
        }                                                                       \
        static OpenFn real = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, #name)); \
        return real(path, flags, mode);                                         \
    }
#define QUORREL_OPENAT(name)                                                        \
    extern "C" int name(int dir, const char* path, int flags, ...) {                \
        va_list args;                                                               \
        va_start(args, flags);                                                      \
        const mode_t mode = ModeOf(flags, args);                                    \
        va_end(args);                                                               \
        if (Refused(flags)) {                                                       \
            return -1;                                                              \
        }                                                                           \
        static OpenAtFn real = reinterpret_cast<OpenAtFn>(dlsym(RTLD_NEXT, #name)); \
        return real(dir, path, flags, mode);                                        \
    }

QUORREL_OPEN(open)
QUORREL_OPEN(open64)
QUORREL_OPENAT(openat)
QUORREL_OPENAT(openat64)
