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

// The call the C library would have had.
template <class Fn, class... Args>
int Forward(const char* name, int flags, Args... args) {
    if (Refused(flags)) {
        return -1;
    }
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name))(args...);
}

}  // namespace

// The mode argument, present only with O_CREAT or O_TMPFILE.
#define QUORREL_MODE_ARGUMENT(flags, mode)        \
    mode_t mode = 0;                              \
    if (((flags) & (O_CREAT | O_TMPFILE)) != 0) { \
        va_list args;                             \
        va_start(args, flags);                    \
        mode = mode_t(va_arg(args, int));         \
        va_end(args);                             \
    }

extern "C" int open(const char* path, int flags, ...) {
    QUORREL_MODE_ARGUMENT(flags, mode);
    return Forward<OpenFn>("open", flags, path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
    QUORREL_MODE_ARGUMENT(flags, mode);
    return Forward<OpenFn>("open64", flags, path, flags, mode);
}

extern "C" int openat(int dir, const char* path, int flags, ...) {
    QUORREL_MODE_ARGUMENT(flags, mode);
    return Forward<OpenAtFn>("openat", flags, dir, path, flags, mode);
}

extern "C" int openat64(int dir, const char* path, int flags, ...) {
    QUORREL_MODE_ARGUMENT(flags, mode);
    return Forward<OpenAtFn>("openat64", flags, dir, path, flags, mode);
}
