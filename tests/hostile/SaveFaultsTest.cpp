// Files that change under the editor, and saves the system refuses: the old
// file stays intact and the message gives the system's reason.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

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
        EXPECT_EQ(o.doc.m_strText, "<r/>");
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
    EXPECT_EQ(o.doc.OnSaveDocument(path, o.doc.m_strText), "");
    EXPECT_EQ(ReadBytes(path), text);
    EXPECT_FALSE(o.doc.ChangedOnDisk());

    // Rewritten in place, even at the same size, or replaced by another file.
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    dir.write("doc.xml", "<r>\r\n\t<b/>\r\n</r>\r\n");
    struct timespec later[2] = {{0, UTIME_OMIT}, {before.st_mtim.tv_sec + 2, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    EXPECT_TRUE(o.doc.ChangedOnDisk());
    EXPECT_EQ(o.doc.OnSaveDocument(path, o.doc.m_strText), "");
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
    EXPECT_EQ(o.doc.OnSaveDocument(path, o.doc.m_strText),
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
