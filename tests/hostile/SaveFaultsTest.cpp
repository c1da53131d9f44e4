// Files that change under the editor, and saves the system refuses: the old
// file stays intact and the message gives the system's reason.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <functional>
#include <set>

#include "doc/core/FileCodec.h"
#include "tests/hostile/HostileSupport.h"

using namespace quorrel;
using namespace quorrel::hostile;

namespace {

// Only the named entries are in the folder: no temporary file was left behind.
void ExpectOnlyEntries(const fs::path& folder, std::set<std::string> names) {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        found.insert(entry.path().filename().string());
    }
    EXPECT_EQ(found, names);
}

}  // namespace

TEST(HostileFiles, ThingsThatAreNotDocumentsChangeNothing) {
    TempDir dir;
    Opened o(dir.write("good.xml", "<r/>"));
    ASSERT_TRUE(o.result.parsed);
    const fs::path folder = dir.path / ".xml";  // a 0-byte "file" that is a directory
    fs::create_directory(folder);
    const fs::path fifo = dir.path / "fifo.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {folder.string(), std::strerror(EISDIR)},
        {fifo.string(), "it is not a regular file"},  // and it does not wait for a writer
        {"/dev/zero", "it is not a regular file"},
        {"/dev/urandom", "it is not a regular file"},
        {(dir.path / "missing.xml").string(), std::strerror(ENOENT)},
    };
    for (const auto& [path, reason] : cases) {
        LoadResult loaded = o.doc.OnOpenDocument(path);
        EXPECT_FALSE(loaded.opened) << path;
        EXPECT_EQ(loaded.error, "Cannot read '" + path + "': " + reason);
        EXPECT_EQ(o.doc.Text(), "<r/>");
        EXPECT_EQ(o.doc.GetPathName(), (dir.path / "good.xml").string());
    }
    EXPECT_TRUE(o.sink.messages.empty());
}

TEST(HostileFiles, FileVanishesOrIsReplacedBetweenOpenAndSave) {
    TempDir dir;
    const std::string text = "<r>\r\n\t<a/>\r\n</r>\r\n";
    const std::string path = dir.write("doc.xml", text);
    Opened o(path);
    ASSERT_TRUE(o.result.parsed);
    EXPECT_FALSE(o.doc.ChangedOnDisk());

    // Gone: the save writes it again, nothing is overwritten.
    fs::remove(path);
    EXPECT_FALSE(o.doc.ChangedOnDisk());
    EXPECT_EQ(o.doc.OnSaveDocument(path, o.doc.Text()), "");
    EXPECT_EQ(ReadBytes(path), text);
    EXPECT_FALSE(o.doc.ChangedOnDisk());

    // Rewritten in place, even at the same size, or replaced by another file.
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    dir.write("doc.xml", "<r>\r\n\t<b/>\r\n</r>\r\n");
    struct timespec later[2] = {{0, UTIME_OMIT}, {before.st_mtim.tv_sec + 2, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    EXPECT_TRUE(o.doc.ChangedOnDisk());
    EXPECT_EQ(o.doc.OnSaveDocument(path, o.doc.Text()), "");
    EXPECT_FALSE(o.doc.ChangedOnDisk());
    fs::rename(dir.write("other.xml", "<other/>"), path);
    EXPECT_TRUE(o.doc.ChangedOnDisk());
    o.doc.SetPathName((dir.path / "elsewhere.xml").string());
    EXPECT_FALSE(o.doc.ChangedOnDisk());  // not the file that was read
    o.doc.SetPathName(path);

    // Replaced by something that cannot be written over: the save says why.
    fs::remove(path);
    fs::create_directory(path);
    EXPECT_TRUE(o.doc.ChangedOnDisk());
    EXPECT_EQ(o.doc.OnSaveDocument(path, o.doc.Text()),
              "Cannot write '" + path + "': " + std::strerror(EISDIR));
    EXPECT_TRUE(fs::is_directory(path));
    ExpectOnlyEntries(dir.path, {"doc.xml"});
}

TEST(SaveFaults, SymbolicLinksAreFollowedAndKept) {
    TempDir dir;
    fs::create_directory(dir.path / "real");
    const std::string target = dir.write("real/doc.xml", "<r/>");
    fs::create_symlink("real/doc.xml", dir.path / "link.xml");
    fs::create_symlink(dir.path / "link.xml", dir.path / "link-to-link.xml");
    const std::string link = (dir.path / "link-to-link.xml").string();
    Opened o(link);
    ASSERT_TRUE(o.result.parsed);
    EXPECT_EQ(o.doc.OnSaveDocument(link, "<r>new</r>"), "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(dir.path / "link.xml"));
    EXPECT_EQ(ReadBytes(target), "<r>new</r>");
    EXPECT_FALSE(o.doc.ChangedOnDisk());
    ExpectOnlyEntries(dir.path / "real", {"doc.xml"});

    // A link whose file does not exist yet: the file is made where it points.
    fs::create_symlink("real/new.xml", dir.path / "dangling.xml");
    EXPECT_EQ(o.doc.OnSaveDocument((dir.path / "dangling.xml").string(), "<n/>"), "");
    EXPECT_TRUE(fs::is_symlink(dir.path / "dangling.xml"));
    EXPECT_EQ(ReadBytes(dir.path / "real" / "new.xml"), "<n/>");

    // A loop is refused with the system's reason.
    fs::create_symlink("loop-b.xml", dir.path / "loop-a.xml");
    fs::create_symlink("loop-a.xml", dir.path / "loop-b.xml");
    const std::string loop = (dir.path / "loop-a.xml").string();
    EXPECT_EQ(o.doc.OnSaveDocument(loop, "<x/>"),
              "Cannot write '" + loop + "': " + std::strerror(ELOOP));
}

TEST(SaveFaults, FullDiskKeepsTheOldFile) {
    TempDir dir;
    TmpfsMount disk(dir.path / "disk");
    if (!disk.mounted()) {
        GTEST_SKIP() << "full-disk case not run: " << disk.why();
    }
    const std::string old = "<r>" + std::string(1000, 'o') + "</r>";
    const std::string path = (dir.path / "disk" / "doc.xml").string();
    std::ofstream(path, std::ios::binary) << old;
    Opened o(path);
    ASSERT_TRUE(o.result.parsed);
    const std::string bigger = "<r>" + std::string(200 * 1024, 'n') + "</r>";
    o.doc.OnTextChanged(bigger);
    EXPECT_EQ(o.doc.OnSaveDocument(path, bigger),
              "Cannot write '" + path + "': " + std::strerror(ENOSPC));
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_TRUE(o.doc.IsModified());
    ExpectOnlyEntries(dir.path / "disk", {"doc.xml"});
}

TEST(SaveFaults, ReadOnlyFolderKeepsTheOldFile) {
    TempDir dir;
    TmpfsMount folder(dir.path / "ro");
    if (!folder.mounted()) {
        GTEST_SKIP() << "read-only folder case not run: " << folder.why();
    }
    const std::string path = (dir.path / "ro" / "doc.xml").string();
    std::ofstream(path, std::ios::binary) << "<r/>";
    Opened o(path);
    ASSERT_TRUE(o.result.parsed);
    // As root, file modes would not stop the write: the mount does.
    ASSERT_TRUE(folder.makeReadOnly()) << folder.why();
    EXPECT_EQ(o.doc.OnSaveDocument(path, "<r>new</r>"),
              "Cannot write '" + path + "': " + std::strerror(EROFS));
    EXPECT_EQ(ReadBytes(path), "<r/>");
    ExpectOnlyEntries(dir.path / "ro", {"doc.xml"});
}

namespace {

struct Nobody {
    uid_t uid = 65534;
    gid_t gid = 65534;
    Nobody() {
        if (const passwd* pw = getpwnam("nobody")) {
            uid = pw->pw_uid;
        }
        if (const group* gr = getgrnam("nogroup")) {
            gid = gr->gr_gid;
        }
    }
};

// Runs check in a child process as the user nobody, as an ordinary user runs
// the editor. Returns what the check found wrong; empty when all held.
std::string AsNobody(const std::function<std::string()>& check) {
    int fds[2];
    if (pipe(fds) != 0) {
        return "no pipe";
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Nobody nobody;
        std::string found = setgroups(0, nullptr) != 0 ||
                                    setresgid(nobody.gid, nobody.gid, nobody.gid) != 0 ||
                                    setresuid(nobody.uid, nobody.uid, nobody.uid) != 0
                                ? std::string("cannot become nobody: ") + std::strerror(errno)
                                : check();
        ssize_t ignored = write(fds[1], found.data(), found.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::string found;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
        found.append(buffer, std::size_t(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) {
        found += "the child died";
    }
    return found;
}

// A folder nobody may write in, under a folder it may pass through.
fs::path SharedFolder(const TempDir& dir) {
    fs::permissions(dir.path, fs::perms(0711));
    fs::create_directory(dir.path / "shared");
    fs::permissions(dir.path / "shared", fs::perms(0777));
    return dir.path / "shared";
}

std::string Owned(const fs::path& file, uid_t uid, gid_t gid, mode_t mode) {
    std::ofstream(file, std::ios::binary) << "<old/>";
    if (chown(file.c_str(), uid, gid) != 0 || chmod(file.c_str(), mode) != 0) {
        throw std::runtime_error("cannot set up " + file.string());
    }
    return file.string();
}

std::string SaveAndCheck(const std::string& path, const std::string& expected) {
    CollectingSink sink;
    CDoc doc(sink);
    std::string error = doc.OnSaveDocument(path, "<new/>");
    return error == expected ? "" : path + ": got \"" + error + "\"\n";
}

}  // namespace

TEST(SaveFaults, FilesTheUserMayNotWriteAreRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "setting up another user's file needs root";
    }
    TempDir dir;
    Nobody nobody;
    const fs::path shared = SharedFolder(dir);
    const std::string readOnly = Owned(shared / "mine.xml", nobody.uid, nobody.gid, 0444);
    const std::string theirs = Owned(shared / "theirs.xml", 0, 0, 0644);
    EXPECT_EQ(AsNobody([&] {
                  std::string denied = ": Permission denied";
                  return SaveAndCheck(readOnly, "Cannot write '" + readOnly + "'" + denied) +
                         SaveAndCheck(theirs, "Cannot write '" + theirs + "'" + denied);
              }),
              "");
    for (const std::string& path : {readOnly, theirs}) {
        EXPECT_EQ(ReadBytes(path), "<old/>") << path;
    }
    struct stat st {};
    ASSERT_EQ(stat(theirs.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    ExpectOnlyEntries(shared, {"mine.xml", "theirs.xml"});
}

TEST(SaveFaults, FilesAreWrittenThroughWhereAReplacementWouldDifferFromThem) {
    TempDir dir;
    // A second name of the file gets the new content too.
    const std::string h1 = dir.write("h1.xml", "<old/>");
    fs::create_hard_link(h1, dir.path / "h2.xml");
    EXPECT_EQ(SaveAndCheck(h1, ""), "");
    EXPECT_EQ(ReadBytes(dir.path / "h2.xml"), "<new/>");
    EXPECT_TRUE(fs::equivalent(h1, dir.path / "h2.xml"));
    ExpectOnlyEntries(dir.path, {"h1.xml", "h2.xml"});
    fs::remove(dir.path / "h2.xml");

    // A FIFO stays one, and its reader gets the document.
    const fs::path fifo = dir.path / "fifo.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(SaveAndCheck(fifo.string(), ""), "");
    char got[16] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 6);
    close(reader);
    EXPECT_EQ(std::string(got), "<new/>");
    EXPECT_TRUE(fs::is_fifo(fifo));
    fs::remove(fifo);

    if (geteuid() != 0) {
        GTEST_SKIP() << "the device, owner and setuid cases need root";
    }
    const fs::path device = dir.path / "null.xml";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(SaveAndCheck(device.string(), ""), "");
        EXPECT_TRUE(fs::is_character_file(device));
        fs::remove(device);
    } else {
        ADD_FAILURE() << "mknod: " << std::strerror(errno);
    }

    // Root saving another user's setuid file keeps owner and mode.
    Nobody nobody;
    const std::string setuid = Owned(dir.path / "setuid.xml", nobody.uid, nobody.gid, 06755);
    EXPECT_EQ(SaveAndCheck(setuid, ""), "");
    struct stat st {};
    ASSERT_EQ(stat(setuid.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 06755u);
    EXPECT_EQ(st.st_uid, nobody.uid);
    EXPECT_EQ(ReadBytes(setuid), "<new/>");
    fs::remove(setuid);

    // A member of the group saves the group's file: it stays the owner's.
    const fs::path shared = SharedFolder(dir);
    const std::string grouped = Owned(shared / "group.xml", 0, nobody.gid, 0664);
    EXPECT_EQ(AsNobody([&] { return SaveAndCheck(grouped, ""); }), "");
    ASSERT_EQ(stat(grouped.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, nobody.gid);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(ReadBytes(grouped), "<new/>");
    ExpectOnlyEntries(shared, {"group.xml"});  // the copy of the old content went
}

TEST(SaveFaults, AKilledSaveLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.write("doc.xml", "<old/>");
    const std::string folder = dir.path.string() + "/";
    pid_t pid = fork();
    if (pid == 0) {
        std::string big = "<r>" + std::string(100 << 20, 'x') + "</r>";
        WriteFileAtomically(path, big);
        _exit(0);
    }
    ASSERT_GT(pid, 0);
    // Killed once it has written some of the new content.
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    bool killed = false;
    while (!killed && waitpid(pid, nullptr, WNOHANG) == 0) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(fdDir, ec)) {
            std::error_code linkError;
            std::string to = fs::read_symlink(entry.path(), linkError).string();
            struct stat st {};
            if (!linkError && to.starts_with(folder) && stat(entry.path().c_str(), &st) == 0 &&
                S_ISREG(st.st_mode) && st.st_size > 0) {
                kill(pid, SIGKILL);
                killed = true;
                break;
            }
        }
    }
    if (!killed) {
        GTEST_SKIP() << "the save ended before it could be killed";
    }
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(ReadBytes(path), "<old/>");
    ExpectOnlyEntries(dir.path, {"doc.xml"});
}

TEST(SaveFaults, StaleTemporaryFilesOfOursGoOnTheNextSave) {
    TempDir dir;
    const std::string path = dir.write("doc.xml", "<old/>");
    auto aged = [&](const std::string& name, long secondsAgo) {
        std::string file = dir.write(name, "partial");
        struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - secondsAgo, 0}};
        utimensat(AT_FDCWD, file.c_str(), times, 0);
        return file;
    };
    aged(".doc.xml.Ab12Cd", 3600);                           // a killed save's: goes
    const std::string busy = aged(".doc.xml.Zz99Yy", 3600);  // a save under way holds it
    int held = open(busy.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    aged(".doc.xml.Qq11Ww", -3600);   // newer than the save
    aged(".other.xml.Ab12Cd", 3600);  // another file's
    aged(".doc.xml.Ab12C", 3600);     // not our pattern
    aged("doc.xml.Ab12Cd", 3600);
    EXPECT_EQ(SaveAndCheck(path, ""), "");
    close(held);
    ExpectOnlyEntries(dir.path, {"doc.xml", ".doc.xml.Zz99Yy", ".doc.xml.Qq11Ww",
                                 ".other.xml.Ab12Cd", ".doc.xml.Ab12C", "doc.xml.Ab12Cd"});
}
