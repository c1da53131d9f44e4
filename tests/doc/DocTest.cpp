#include "doc/core/Doc.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace quorrel;
namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(QUORREL_TEST_DATA) / "dom";
const std::string kHint =
    "\nHint:\n Turn the DTD/Schema validation button - V - on the toolbar off."
    "\n Then click on the Parse button - P - to retry this operation.";

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = "/tmp/quorrel-doc-XXXXXX";
        path = mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("mkdtemp failed");
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
        return path / name;
    }
};

std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class RecordingView : public CDocView {
public:
    void OnUpdate(CDocView* sender) override { senders.push_back(sender); }
    std::vector<CDocView*> senders;
};

}  // namespace

TEST(CDoc, ConstructAndNewDocument) {
    CollectingSink sink;
    CDoc doc(sink);
    EXPECT_TRUE(doc.ValidatesOnParse());
    EXPECT_TRUE(doc.CanValidateNo());
    EXPECT_FALSE(doc.CanValidateYes());
    EXPECT_EQ(doc.LastUrl(), "http://");
    EXPECT_FALSE(doc.IsModified());

    TempDir dir;
    RecordingView view;
    doc.AddView(&view);
    ASSERT_TRUE(doc.OnOpenDocument(dir.write("a.xml", "<a/>")).opened);
    doc.OnValidateNo();
    doc.SetLastUrl("http://example.org/a.xml");
    doc.OnTextChanged("<a>edited</a>");
    view.senders.clear();

    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.Text(), "");
    EXPECT_FALSE(doc.HasDom());
    EXPECT_TRUE(doc.ValidatesOnParse());
    EXPECT_EQ(doc.LastUrl(), "http://");
    EXPECT_EQ(doc.GetPathName(), "");
    EXPECT_FALSE(doc.IsModified());
    // The initial update after New is the window's to send.
    EXPECT_TRUE(view.senders.empty());
    EXPECT_TRUE(sink.messages.empty());
}

TEST(CDoc, OpenShowsParseErrorsButLoadsTheText) {
    CollectingSink sink;
    CDoc doc(sink);
    RecordingView view;
    doc.AddView(&view);
    TempDir dir;
    const std::string good = "<?xml version=\"1.0\"?>\n<r>\n  <a>x</a>\n</r>\n";
    fs::path goodPath = dir.write("good.xml", good);
    LoadResult loaded = doc.OnOpenDocument(goodPath);
    EXPECT_TRUE(loaded.opened);
    EXPECT_TRUE(loaded.parsed);
    EXPECT_FALSE(loaded.nulOffset);
    EXPECT_EQ(doc.Text(), good);
    ASSERT_TRUE(doc.HasDom());
    EXPECT_EQ(doc.Dom().documentElement().nodeName(), "r");
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetPathName(), goodPath.string());
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(view.senders.empty());

    const std::string broken = "<r>\n<a>\n</b>\n</r>\n";
    loaded = doc.OnOpenDocument(dir.write("broken.xml", broken));
    EXPECT_TRUE(loaded.opened);
    EXPECT_FALSE(loaded.parsed);
    EXPECT_EQ(doc.Text(), broken);
    EXPECT_FALSE(doc.IsModified());
    ASSERT_EQ(sink.messages.size(), 1u);
    const std::string& reason = doc.Dom().parseError().reason;
    EXPECT_NE(reason.find("(line 3, column"), std::string::npos) << reason;
    EXPECT_EQ(sink.messages[0], "XML DOM Parse Error:\n" + reason + kHint);
    EXPECT_TRUE(view.senders.empty());
}

TEST(CDoc, ValidationSwitchDecidesOnDtdErrors) {
    CollectingSink sink;
    CDoc doc(sink);
    const std::string invalid = (kData / "catalog-invalid.xml").string();
    doc.OnValidateNo();
    LoadResult loaded = doc.OnOpenDocument(invalid);
    EXPECT_TRUE(loaded.parsed);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_FALSE(doc.ValidatesOnParse());
    EXPECT_TRUE(doc.CanValidateYes());

    doc.OnValidateYes();
    loaded = doc.OnOpenDocument(invalid);
    EXPECT_FALSE(loaded.parsed);
    EXPECT_TRUE(doc.ValidatesOnParse());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_TRUE(sink.messages[0].starts_with("XML DOM Parse Error:\n")) << sink.messages[0];
    EXPECT_TRUE(sink.messages[0].ends_with(kHint));
    EXPECT_TRUE(doc.OnOpenDocument((kData / "catalog.xml").string()).parsed);
    EXPECT_EQ(sink.messages.size(), 1u);
}

TEST(CDoc, UnreadableFilesChangeNothingAndNulCutsText) {
    CollectingSink sink;
    CDoc doc(sink);
    RecordingView view;
    doc.AddView(&view);
    TempDir dir;
    fs::path good = dir.write("good.xml", "<r/>");
    ASSERT_TRUE(doc.OnOpenDocument(good).opened);
    view.senders.clear();

    LoadResult loaded = doc.OnOpenDocument((dir.path / "missing.xml").string());
    EXPECT_FALSE(loaded.opened);
    EXPECT_NE(loaded.error.find(std::strerror(ENOENT)), std::string::npos) << loaded.error;
    EXPECT_EQ(doc.Text(), "<r/>");
    EXPECT_EQ(doc.GetPathName(), good.string());
    EXPECT_EQ(doc.Dom().documentElement().nodeName(), "r");
    loaded = doc.OnOpenDocument(dir.path.string());
    EXPECT_FALSE(loaded.opened);
    EXPECT_NE(loaded.error, "");
    EXPECT_EQ(doc.Text(), "<r/>");
    EXPECT_TRUE(view.senders.empty());
    EXPECT_TRUE(sink.messages.empty());

    loaded = doc.OnOpenDocument(dir.write("nul.xml", std::string("<r>ab\0cd</r>", 12)));
    EXPECT_TRUE(loaded.opened);
    ASSERT_TRUE(loaded.nulOffset);
    EXPECT_EQ(*loaded.nulOffset, 5u);
    EXPECT_EQ(doc.Text(), "<r>ab");
}

TEST(CDoc, SaveWritesTheSameBytesAndFailsSafely) {
    CollectingSink sink;
    CDoc doc(sink);
    TempDir dir;
    const std::string crlf = "<?xml version=\"1.0\"?>\r\n<r>\r\n\t<a>x</a>\r\n</r>\r\n";
    fs::path path = dir.write("crlf.xml", crlf);
    ASSERT_TRUE(doc.OnOpenDocument(path).parsed);
    EXPECT_EQ(doc.Text(), crlf);
    EXPECT_EQ(doc.OnSaveDocument(path, doc.Text()), "");
    EXPECT_EQ(Bytes(path), crlf);
    fs::path copy = dir.path / "copy.xml";
    EXPECT_EQ(doc.OnSaveDocument(copy, doc.Text()), "");
    EXPECT_EQ(Bytes(copy), crlf);
    EXPECT_EQ(doc.GetPathName(), copy.string());

    doc.OnTextChanged(doc.Text() + "<!-- more -->");
    EXPECT_NE(doc.OnSaveDocument(dir.path / "no-such-dir" / "x.xml", doc.Text()), "");
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetPathName(), copy.string());

    // The encode fails: the file on disk keeps its old bytes.
    const std::string latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r>caf\xE9</r>\n";
    fs::path latinPath = dir.write("latin.xml", latin);
    ASSERT_TRUE(doc.OnOpenDocument(latinPath).parsed);
    EXPECT_EQ(doc.Text(), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r>caf\xC3\xA9</r>\n");
    std::string edited = doc.Text() + "<!-- 5 \xE2\x82\xAC -->\n";
    doc.OnTextChanged(edited);
    EXPECT_NE(doc.OnSaveDocument(latinPath, edited), "");
    EXPECT_EQ(Bytes(latinPath), latin);
    EXPECT_TRUE(doc.IsModified());
}

TEST(CDoc, SaveFollowsAnEditedDeclaration) {
    CollectingSink sink;
    CDoc doc(sink);
    TempDir dir;
    ASSERT_TRUE(doc.OnOpenDocument(dir.write("u.xml", "<r>caf\xC3\xA9</r>\n")).parsed);
    const std::string body = "?>\n<r>caf\xC3\xA9</r>\n";
    fs::path latin = dir.path / "latin.xml";
    EXPECT_EQ(doc.OnSaveDocument(latin, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"" + body),
              "");
    EXPECT_EQ(Bytes(latin), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r>caf\xE9</r>\n");

    // Text in memory is UTF-8; a file declared UTF-16 must really be UTF-16.
    const std::string text16 = "<?xml version=\"1.0\" encoding=\"utf-16\"" + body;
    fs::path wide = dir.path / "wide.xml";
    EXPECT_EQ(doc.OnSaveDocument(wide, text16), "");
    std::string bytes = Bytes(wide);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE<\0", 4));
    EXPECT_EQ(bytes.size(), 2 + 2 * (text16.size() - 1));  // one character is two UTF-8 bytes
    ASSERT_TRUE(doc.OnOpenDocument(wide).parsed);
    EXPECT_EQ(doc.Text(), text16);
}

TEST(CDoc, ViewsAndTextChanges) {
    CollectingSink sink;
    CDoc doc(sink);
    RecordingView source, tree;
    doc.AddView(&source);
    doc.AddView(&tree);
    EXPECT_EQ(doc.GetFirstView(), &source);
    doc.OnNewDocument();
    doc.UpdateAllViews(nullptr);
    EXPECT_EQ(source.senders, (std::vector<CDocView*>{nullptr}));
    EXPECT_EQ(tree.senders, (std::vector<CDocView*>{nullptr}));

    doc.UpdateAllViews(&tree);
    EXPECT_EQ(source.senders, (std::vector<CDocView*>{nullptr, &tree}));
    EXPECT_EQ(tree.senders.size(), 1u);
    doc.OnParse();
    EXPECT_EQ(source.senders.size(), 2u);
    EXPECT_EQ(tree.senders, (std::vector<CDocView*>{nullptr, &source}));

    doc.OnTextChanged("<x>\n</y>");
    EXPECT_EQ(doc.Text(), "<x>\n</y>");
    EXPECT_TRUE(doc.IsModified());
    EXPECT_TRUE(doc.IsTextChanged());
    EXPECT_FALSE(doc.ReparseDocument("\n Last line."));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_TRUE(sink.messages[0].ends_with("off.\n Last line.")) << sink.messages[0];
    EXPECT_FALSE(doc.Dom().documentElement());
    doc.OnTextChanged("<x/>");
    EXPECT_TRUE(doc.ReparseDocument());
    EXPECT_EQ(doc.Dom().documentElement().nodeName(), "x");

    doc.RemoveView(&source);
    doc.UpdateAllViews(nullptr);
    EXPECT_EQ(source.senders.size(), 2u);
    EXPECT_EQ(tree.senders.size(), 3u);
    EXPECT_EQ(doc.GetFirstView(), &tree);
}
