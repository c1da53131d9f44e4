// Files on disk: a whole file read within a size limit, the atomic write
// that replaces a file (or writes through it), and file stamps.
#include "doc/core/FileCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace quorrel {

namespace {

// 0666 & ~umask, without changing the process umask other threads rely on.
mode_t NewFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Umask:")) {
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
    }
    return 0644;
}

FileStamp StampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtimeSeconds = st.st_mtim.tv_sec;
    stamp.mtimeNanoseconds = st.st_mtim.tv_nsec;
    return stamp;
}

// Follows symbolic links to the file a path finally names, also when that
// file does not exist yet (a save creates it). Returns 0 or an errno value.
int FollowLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return 0;
        }
        std::string to(PATH_MAX, '\0');
        ssize_t n = readlink(path.c_str(), to.data(), to.size());
        if (n < 0) {
            return errno;
        }
        to.resize(static_cast<std::size_t>(n));
        if (!to.starts_with('/')) {
            std::size_t slash = path.rfind('/');
            to.insert(0, slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
        }
        path = std::move(to);
    }
    return ELOOP;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), 1 << 30));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// A descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void Reset(int f = -1) {
        if (fd >= 0) {
            close(fd);
        }
        fd = f;
    }
    int Release() { return std::exchange(fd, -1); }
};

constexpr std::size_t kTempTail = 6;  // the random letters of ".NAME.XXXXXX"

bool IsTempTail(std::string_view tail) {
    return tail.size() == kTempTail && std::all_of(tail.begin(), tail.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c));
           });
}

std::string RandomTail() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[kTempTail];
    if (getentropy(raw, sizeof raw) != 0) {
        for (unsigned char& c : raw) {
            c = static_cast<unsigned char>(std::rand());
        }
    }
    std::string tail;
    for (unsigned char c : raw) {
        tail += kLetters[c % (sizeof kLetters - 1)];
    }
    return tail;
}

// Temporary files of earlier saves of this file that were killed before the
// rename: ours by name and owner, older than this save, and locked by no save
// under way (each holds a lock on its temporary file while it writes).
void RemoveStaleTemps(const std::string& folder, const std::string& name,
                      const struct timespec& started) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::string prefix = "." + name + ".";
    while (const dirent* entry = readdir(dir)) {
        std::string_view entryName(entry->d_name);
        if (!entryName.starts_with(prefix) || !IsTempTail(entryName.substr(prefix.size()))) {
            continue;
        }
        struct stat st {};
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
            std::pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec) >=
                std::pair(started.tv_sec, started.tv_nsec)) {
            continue;
        }
        Fd fd(openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.fd >= 0 && flock(fd.fd, LOCK_EX | LOCK_NB) == 0) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    closedir(dir);
}

// The new content's file in the folder: unnamed (O_TMPFILE) where the file
// system has them, so that a save killed half-way leaves nothing; else a
// named ".NAME.XXXXXX". Returns the descriptor, or -errno.
int CreateTemp(const std::string& folder, const std::string& name, std::string& named) {
    named.clear();
    int fd = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return fd;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return -errno;
    }
    named = folder + "." + name + ".XXXXXX";
    fd = mkostemp(named.data(), O_CLOEXEC);
    if (fd < 0) {
        named.clear();
        return -errno;
    }
    return fd;
}

// Gives the finished unnamed file a temporary name beside the target.
int NameTemp(int fd, const std::string& folder, const std::string& name, std::string& named) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int tries = 0; tries < 100; ++tries) {
        named = folder + "." + name + "." + RandomTail();
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return 0;
        }
        if (errno != EEXIST) {
            named.clear();
            return errno;
        }
    }
    named.clear();
    return EEXIST;
}

int CopyAll(int from, int to) {
    char buffer[1 << 16];
    while (true) {
        ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno;
        }
        if (n == 0) {
            return 0;
        }
        if (int err = WriteAll(to, std::string_view(buffer, static_cast<std::size_t>(n)));
            err != 0) {
            return err;
        }
    }
}

// Writes through the existing file, so that it keeps its links, owner, mode
// and kind. A regular file's old content is copied beside it first; the copy
// goes once the new content is safely written, or is named in the message.
std::string WriteInPlace(const std::string& path, const std::string& target, bool regular,
                         std::string_view bytes, FileStamp* written, int& code) {
    auto fail = [&](int err) {
        code = err;
        return "Cannot write '" + path + "': " + std::strerror(err);
    };
    // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting.
    Fd out(open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (out.fd < 0) {
        return fail(errno);
    }
    if (int flags = fcntl(out.fd, F_GETFL);
        flags < 0 || fcntl(out.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return fail(errno);
    }
    if (!regular) {
        int err = WriteAll(out.fd, bytes);
        return err == 0 ? "" : fail(err);
    }
    std::string copy = target + ".old-XXXXXX";
    Fd saved(mkostemp(copy.data(), O_CLOEXEC));
    if (saved.fd < 0) {
        code = errno;
        return "Cannot write '" + path +
               "': no copy of its old content can be made beside it: " + std::strerror(code);
    }
    Fd old(open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    int err = old.fd < 0 ? errno : CopyAll(old.fd, saved.fd);
    if (err == 0 && fsync(saved.fd) != 0) {
        err = errno;
    }
    if (err != 0) {
        unlink(copy.c_str());
        code = err;
        return "Cannot write '" + path +
               "': no copy of its old content can be made beside it: " + std::strerror(err);
    }
    // Over the old bytes first: a full disk hits only the part that grows.
    err = WriteAll(out.fd, bytes);
    if (err == 0 && ftruncate(out.fd, static_cast<off_t>(bytes.size())) != 0) {
        err = errno;
    }
    if (err == 0 && fsync(out.fd) != 0) {
        err = errno;
    }
    if (err != 0) {
        return fail(err) + "\nIts old content is kept in '" + copy + "'.";
    }
    struct stat done {};
    if (written != nullptr && fstat(out.fd, &done) == 0) {
        *written = StampOf(done);
    }
    unlink(copy.c_str());
    return "";
}

}  // namespace

std::string WriteFileAtomically(const std::string& path, std::string_view bytes, FileStamp* written,
                                int* failure) {
    int code = 0;
    auto fail = [&](int err) {
        code = err;
        return "Cannot write '" + path + "': " + std::strerror(err);
    };
    auto done = [&](std::string error) {
        if (failure != nullptr) {
            *failure = error.empty() ? 0 : (code != 0 ? code : EIO);
        }
        return error;
    };
    struct timespec started {};
    clock_gettime(CLOCK_REALTIME, &started);
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    // The file's own mode decides, not only its folder's.
    if (exists && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        return done(fail(errno));
    }
    // Write through a symlink so the link itself stays.
    std::string target = path;
    if (int err = FollowLinks(target); err != 0) {
        return done(fail(err));
    }
    struct stat resolved {};
    const bool sameFile = exists && stat(target.c_str(), &resolved) == 0 &&
                          resolved.st_dev == st.st_dev && resolved.st_ino == st.st_ino;
    // A FIFO, a device, a file reached through /proc/self/fd, or one with more
    // names than this: replacing it would not write what the path names.
    if (exists && (!S_ISREG(st.st_mode) || !sameFile || st.st_nlink > 1)) {
        if (S_ISDIR(st.st_mode)) {
            return done(fail(EISDIR));
        }
        return done(WriteInPlace(path, target, S_ISREG(st.st_mode), bytes, written, code));
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : NewFileMode();
    std::size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string name = target.substr(folder.size());
    RemoveStaleTemps(folder, name, started);

    std::string temp;
    int created = CreateTemp(folder, name, temp);
    if (created < 0) {
        return done(fail(-created));
    }
    Fd fd(created);
    auto drop = [&] {
        if (!temp.empty()) {
            unlink(temp.c_str());
        }
    };
    flock(fd.fd, LOCK_EX);  // a stale-file sweep of another save leaves it alone
    struct stat mine {};
    if (exists && fstat(fd.fd, &mine) == 0 &&
        (mine.st_uid != st.st_uid || mine.st_gid != st.st_gid) &&
        fchown(fd.fd, st.st_uid, st.st_gid) != 0) {
        // The replacement would belong to someone else: keep the file itself.
        fd.Reset();
        drop();
        return done(WriteInPlace(path, target, true, bytes, written, code));
    }
    int err = WriteAll(fd.fd, bytes);
    // After the owner: a change of owner clears the setuid and setgid bits.
    if (err == 0 && fchmod(fd.fd, mode) != 0) {
        err = errno;
    }
    if (err == 0 && fsync(fd.fd) != 0) {
        err = errno;
    }
    struct stat finished {};
    if (err == 0 && written != nullptr && fstat(fd.fd, &finished) == 0) {
        *written = StampOf(finished);  // naming and renaming keep inode and times
    }
    if (err == 0 && temp.empty()) {
        err = NameTemp(fd.fd, folder, name, temp);
    }
    if (err == 0 && rename(temp.c_str(), target.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        drop();
        return done(fail(err));
    }
    // Make the rename itself durable.
    Fd dirFd(open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.fd >= 0) {
        fsync(dirFd.fd);
    }
    return done("");
}

FileStamp StampOfFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? StampOf(st) : FileStamp();
}

std::uint64_t MaxDocumentBytes() {
    const char* value = std::getenv("QUORREL_MAX_DOCUMENT_BYTES");
    if (value == nullptr || *value == '\0') {
        return kMaxDocumentBytes;
    }
    std::string_view text(value);
    std::uint64_t bytes = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    // The parser takes no more than 2 GB anyway.
    bool usable = error == std::errc() && end == text.data() + text.size() && bytes > 0 &&
                  bytes <= std::uint64_t(INT_MAX);
    return usable ? bytes : kMaxDocumentBytes;
}

std::string ByteLimitText(std::uint64_t bytes) {
    constexpr std::uint64_t kMegabyte = 1024 * 1024;
    return bytes % kMegabyte == 0 ? std::to_string(bytes / kMegabyte) + " MB"
                                  : std::to_string(bytes) + " bytes";
}

std::string ReadWholeFile(const std::string& path, std::string& bytes, FileStamp* stamp,
                          std::uint64_t maxBytes) {
    bytes.clear();
    auto fail = [&](const std::string& why) {
        bytes.clear();
        bytes.shrink_to_fit();
        return "Cannot read '" + path + "': " + why;
    };
    const std::string tooLarge = "the file is larger than " + ByteLimitText(maxBytes) + ".";
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return fail(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return fail(std::strerror(EISDIR));
    }
    if (!S_ISREG(st.st_mode)) {
        return fail("it is not a regular file");
    }
    if (std::uint64_t(st.st_size) > maxBytes) {
        return fail(tooLarge);
    }
    // The size is only a hint: the file may grow (or be a /proc file that
    // says 0), so reading stops one byte past the limit.
    const std::uint64_t stopAt =
        std::min<std::uint64_t>(maxBytes, std::numeric_limits<std::size_t>::max() / 2) + 1;
    bytes.resize(std::size_t(std::min<std::uint64_t>(std::uint64_t(st.st_size) + 1, stopAt)));
    std::size_t used = 0;
    while (used < stopAt) {
        if (used == bytes.size()) {
            bytes.resize(
                std::size_t(std::min<std::uint64_t>(std::uint64_t(bytes.size()) * 2, stopAt)));
        }
        ssize_t n = read(fd, bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    if (used > maxBytes) {
        return fail(tooLarge);
    }
    bytes.resize(used);
    if (stamp != nullptr && fstat(fd, &st) == 0) {
        *stamp = StampOf(st);
    }
    return "";
}

}  // namespace quorrel
