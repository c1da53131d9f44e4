// Files past the size limit, also files that grow while they are read and
// files whose size says less than they hold: the document and its entities
// are read up to the limit and no further, then refused with a message.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "doc/core/FileCodec.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/ScopedEnv.h"

using namespace quorrel;
using namespace quorrel::hostile;
using quorrel::test::ScopedEnv;

namespace {

// /proc files are regular, say they hold 0 bytes, and read as much as they
// have: the same as a file that grew after it was looked at.
const std::string kProcFile = "/proc/self/maps";

// A document with a state of its own, to see that a refused open leaves it alone.
struct OpenDocument {
    CollectingSink sink;
    CDoc doc{sink};
    std::string path, text;

    explicit OpenDocument(const TempDir& dir) {
        path = dir.write("open.xml", "<r>open</r>");
        doc.OnOpenDocument(path);
        doc.OnTextChanged("<r>typed</r>");
        doc.SetModifiedFlag(true);
        text = doc.Text();
    }
    void ExpectUnchanged() const {
        EXPECT_EQ(doc.Text(), text);
        EXPECT_EQ(doc.GetPathName(), path);
        EXPECT_TRUE(doc.IsModified());
        ASSERT_TRUE(doc.HasDom());
        EXPECT_NE(doc.Dom().xml().find("<r>open</r>"), std::string::npos);
        EXPECT_TRUE(sink.messages.empty());
    }
};

}  // namespace

TEST(HostileFileSizes, DocumentsPastTheLimitLeaveTheOpenDocument) {
    TempDir dir;
    OpenDocument open(dir);
    ScopedEnv limit("QUORREL_MAX_DOCUMENT_BYTES", "200");
    std::string bytes = "stale";
    const std::string at = dir.write("at.xml", "<r>" + std::string(193, 'a') + "</r>");
    EXPECT_EQ(ReadWholeFile(at, bytes), "");
    EXPECT_EQ(bytes.size(), 200u);
    const std::string big = dir.write("big.xml", "<r>" + std::string(194, 'a') + "</r>");
    EXPECT_NE(ReadWholeFile(big, bytes), "");
    EXPECT_EQ(bytes, "");
    for (const std::string& path : {big, kProcFile}) {
        SCOPED_TRACE(path);
        LoadResult result = open.doc.OnOpenDocument(path);
        EXPECT_FALSE(result.opened);
        EXPECT_EQ(result.error, "Cannot read '" + path + "': the file is larger than 200 bytes.");
        open.ExpectUnchanged();
    }

    // Appended to all the while: whatever is read, never more than the limit.
    ScopedEnv larger("QUORREL_MAX_DOCUMENT_BYTES", "1048576");
    const std::string growing = dir.write("growing.xml", "<r>" + std::string(1048000, 'a'));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::ofstream out(growing, std::ios::binary | std::ios::app);
        const std::string chunk(65536, 'a');
        for (int i = 0; i < 1024 && !stop; ++i) {
            out << chunk << std::flush;
        }
    });
    LoadResult result = open.doc.OnOpenDocument(growing);
    stop = true;
    writer.join();
    if (result.opened) {
        EXPECT_LE(open.doc.Text().size(), 1048576u);
    } else {
        EXPECT_EQ(result.error, "Cannot read '" + growing + "': the file is larger than 1 MB.");
        open.ExpectUnchanged();
    }
}

TEST(HostileFileSizes, EntitiesAreReadAsTheyAreAndUpToTheLimit) {
    TempDir dir;
    ScopedEnv limit("QUORREL_MAX_DOCUMENT_BYTES", "4096");
    const std::string big = dir.write("big.ent", std::string(4097, 'a'));
    for (const std::string& target : {big, kProcFile}) {
        SCOPED_TRACE(target);
        Opened entity(dir.write("entity.xml",
                                "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + target + "\">]><r>&e;</r>"),
                      false);
        EXPECT_TRUE(entity.result.opened);
        EXPECT_FALSE(entity.result.parsed);
        EXPECT_NE(entity.message().find("Cannot read '" + target +
                                        "': the file is larger than 4096 bytes."),
                  std::string::npos)
            << entity.message();
    }

    // A compressed entity is not inflated: it would get around the limit.
    const std::string packed = dir.write("packed.ent", Compress("<b>inflated</b>", 1));
    Opened compressed(dir.write("compressed.xml",
                                "<!DOCTYPE r [<!ENTITY e SYSTEM \"packed.ent\">]>"
                                "<r>&e;</r>"),
                      false);
    EXPECT_TRUE(compressed.result.opened);
    EXPECT_FALSE(compressed.result.parsed);
    EXPECT_NE(compressed.message().find(packed), std::string::npos) << compressed.message();

    // Entities and DTDs within the limit still load, relative names beside them.
    fs::create_directory(dir.path / "sub dir");
    dir.write("sub dir/inner.ent", "<b>inner</b>");
    dir.write("sub dir/outer.ent", "<a>&inner;</a>");
    dir.write("sub dir/r.dtd",
              "<!ELEMENT r (a)><!ELEMENT a (b)><!ELEMENT b (#PCDATA)>"
              "<!ENTITY inner SYSTEM \"inner.ent\"><!ENTITY outer SYSTEM \"outer.ent\">");
    Opened valid(dir.write("valid.xml", "<!DOCTYPE r SYSTEM \"sub%20dir/r.dtd\"><r>&outer;</r>"));
    EXPECT_TRUE(valid.result.parsed) << valid.message();
    ASSERT_TRUE(valid.doc.HasDom());
    EXPECT_NE(valid.doc.Dom().xml().find("<b>inner</b>"), std::string::npos)
        << valid.doc.Dom().xml();
}
