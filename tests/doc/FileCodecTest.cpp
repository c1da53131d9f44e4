#include "doc/core/FileCodec.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace quorrel;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

std::string Utf16(std::u16string_view s, bool bigEndian = false) {
    std::string out;
    for (char16_t u : s) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

TextCodec Codec(const std::string& encoding, LineEnds ends = LineEnds::Lf) {
    TextCodec codec;
    codec.encoding = encoding;
    codec.lineEnds = ends;
    return codec;
}

std::string Slurp(const fs::path& path) {
    std::string bytes;
    EXPECT_EQ(ReadWholeFile(path, bytes), "");
    return bytes;
}

}  // namespace

TEST(FileCodec, UnchangedTextRoundTripsByteForByte) {
    const std::string le = "\xFF\xFE", be = "\xFE\xFF";
    struct Case {
        const char* name;
        std::string bytes;
        std::string encoding;
        LineEnds ends;
        bool lossy;
    } cases[] = {
        {"utf8", "<?xml version=\"1.0\"?>\n<a>\xC3\xA9</a>\n", "UTF-8", LineEnds::Lf, false},
        {"utf8 bom", "\xEF\xBB\xBF<a>x</a>", "UTF-8", LineEnds::Lf, false},
        {"utf16le decl", le + Utf16(u"<?xml version='1.0' encoding='UTF-16'?>\r\n<a>€😀</a>\r\n"),
         "UTF-16LE", LineEnds::CrLf, false},
        {"utf16be", be + Utf16(u"<a>é</a>", true), "UTF-16BE", LineEnds::Lf, false},
        {"utf16le no bom", Utf16(u"<?xml version='1.0'?><a/>"), "UTF-16LE", LineEnds::Lf, false},
        {"latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<a>caf\xE9 \xFF</a>\r\n",
         "ISO-8859-1", LineEnds::CrLf, false},
        {"cp1252", "<?xml version='1.0' encoding='windows-1252'?><a>\x80 \x81 \x9C</a>",
         "windows-1252", LineEnds::Lf, true},
        // ED 40 and FA 5C both decode to U+7E8A: only the kept bytes come back as read.
        {"cp932", "<?xml version='1.0' encoding='CP932'?><a>\xED\x40</a>", "CP932", LineEnds::Lf,
         true},
        {"mixed", "<a>\r\n<b/>\n</a>\r", "UTF-8", LineEnds::Mixed, false},
        {"utf8 invalid", "<a>\xC3\x28 \xFF \xE2\x82</a>", "UTF-8", LineEnds::Lf, true},
        {"utf16 odd size", le + Utf16(u"<a/>") + "A", "UTF-16LE", LineEnds::Lf, true},
        {"utf16 lone surrogate", le + Utf16(u"<a>\xD800</a>"), "UTF-16LE", LineEnds::Lf, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedFile file = DecodeFileBytes(c.bytes);
        EXPECT_EQ(file.codec.encoding, c.encoding);
        EXPECT_EQ(file.codec.lineEnds, c.ends);
        EXPECT_EQ(file.codec.originalBytes.has_value(), c.lossy);
        EXPECT_FALSE(file.nulOffset);
        EncodeResult out = EncodeText(file.text, file.codec);
        ASSERT_TRUE(out.ok()) << out.error;
        EXPECT_EQ(out.bytes, c.bytes);
    }
    EXPECT_EQ(DecodeFileBytes(cases[2].bytes).text,
              "<?xml version='1.0' encoding='UTF-16'?>\r\n<a>€😀</a>\r\n");
    EXPECT_TRUE(DecodeFileBytes(cases[5].bytes).text.ends_with("?>\r\n<a>café ÿ</a>\r\n"));
    EXPECT_TRUE(DecodeFileBytes(cases[6].bytes).text.ends_with("?><a>€ \uFFFD œ</a>"));
    EXPECT_EQ(DecodeFileBytes(cases[9].bytes).text, "<a>\uFFFD( \uFFFD \uFFFD</a>");
    EXPECT_EQ(DecodeFileBytes(cases[10].bytes).text, "<a/>\uFFFD");
    EXPECT_EQ(DecodeFileBytes(cases[11].bytes).text, "<a>\uFFFD</a>");
}

TEST(FileCodec, DetectsTheEncoding) {
    DecodedFile single = DecodeFileBytes("<?xml version='1.0' encoding='ISO-8859-15'?><a>\xA4</a>");
    EXPECT_EQ(single.codec.declared, "ISO-8859-15");
    EXPECT_TRUE(single.text.ends_with("?><a>€</a>"));

    // A BOM outranks the declaration.
    DecodedFile bom =
        DecodeFileBytes("\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?>\xC3\xA9");
    EXPECT_EQ(bom.codec.encoding, "UTF-8");
    EXPECT_EQ(bom.codec.declared, "ISO-8859-1");
    EXPECT_TRUE(bom.codec.bom);
    EXPECT_TRUE(bom.text.ends_with("?>é"));

    DecodedFile wide =
        DecodeFileBytes("\xFE\xFF" + Utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>", true));
    EXPECT_EQ(wide.codec.declared, "UTF-16");
    EXPECT_EQ(wide.codec.encoding, "UTF-16BE");

    DecodedFile unknown = DecodeFileBytes("<?xml version='1.0' encoding='x-no-such'?>\xC3\xA9");
    EXPECT_EQ(unknown.codec.declared, "x-no-such");
    EXPECT_EQ(unknown.codec.encoding, "UTF-8");
    EXPECT_TRUE(unknown.text.ends_with("?>é"));

    DecodedFile notLeading = DecodeFileBytes("<a encoding='ISO-8859-1'>\xC3\xA9</a>");
    EXPECT_EQ(notLeading.codec.declared, "");
    EXPECT_EQ(notLeading.codec.encoding, "UTF-8");
}

TEST(FileCodec, LossyTextEncodesAfterAnEdit) {
    DecodedFile utf8 = DecodeFileBytes("<a>\xFF</a>");
    // Same size as the decoded text, so only the hash tells the edit apart.
    std::string edited = utf8.text;
    edited[1] = 'b';
    EXPECT_EQ(EncodeText(edited, utf8.codec).bytes, "<b>\xEF\xBF\xBD</a>");

    DecodedFile cp1252 =
        DecodeFileBytes("<?xml version='1.0' encoding='windows-1252'?><a>\x80\x81</a>");
    EncodeResult out = EncodeText(cp1252.text + "<b/>", cp1252.codec);
    ASSERT_TRUE(out.ok()) << out.error;
    EXPECT_EQ(out.bytes, "<?xml version='1.0' encoding='windows-1252'?><a>\x80&#65533;</a><b/>");

    DecodedFile utf16 = DecodeFileBytes("\xFF\xFE" + Utf16(u"<a/>") + "A");
    EXPECT_EQ(EncodeText(utf16.text + "x", utf16.codec).bytes, "\xFF\xFE" + Utf16(u"<a/>\xFFFDx"));
}

TEST(FileCodec, TextEndsAtTheFirstNul) {
    DecodedFile utf8 = DecodeFileBytes("\xFF<a>x\0y</a>"s);
    EXPECT_EQ(utf8.text, "\uFFFD<a>x");
    EXPECT_EQ(utf8.nulOffset, 5u);
    // Unedited, the bytes before the NUL are written back as they were.
    EXPECT_EQ(EncodeText(utf8.text, utf8.codec).bytes, "\xFF<a>x");
    EXPECT_EQ(EncodeText(utf8.text + "y", utf8.codec).bytes, "\uFFFD<a>xy");

    DecodedFile noNul = DecodeFileBytes("\xFF\xFE" + Utf16(u"<a>\x100</a>"));
    EXPECT_EQ(noNul.text, "<a>\u0100</a>");
    EXPECT_FALSE(noNul.nulOffset);

    DecodedFile le = DecodeFileBytes("\xFF\xFE" + Utf16(u"<a>"s + u'\0' + u"x"));
    EXPECT_EQ(le.text, "<a>");
    EXPECT_EQ(le.nulOffset, 8u);
    DecodedFile be = DecodeFileBytes(Utf16(u"<?xml?>"s + u'\0', true));
    EXPECT_EQ(be.codec.encoding, "UTF-16BE");
    EXPECT_EQ(be.text, "<?xml?>");
    EXPECT_EQ(be.nulOffset, 14u);
}

TEST(FileCodec, LineEnds) {
    EXPECT_EQ(DecodeFileBytes("a\nb").codec.lineEnds, LineEnds::Lf);
    EXPECT_EQ(DecodeFileBytes("a\r\nb\r\n").codec.lineEnds, LineEnds::CrLf);
    EXPECT_EQ(DecodeFileBytes("a\r\nb\n").codec.lineEnds, LineEnds::Mixed);
    EXPECT_EQ(DecodeFileBytes("a\rb").codec.lineEnds, LineEnds::Mixed);
    EXPECT_EQ(DecodeFileBytes("a\r\nb\r").codec.lineEnds, LineEnds::Mixed);

    EXPECT_EQ(ApplyLineEnds("\na\r\nb\n", LineEnds::CrLf), "\r\na\r\nb\r\n");
    EXPECT_EQ(ApplyLineEnds("\na\r\nb\n", LineEnds::Mixed), "\na\r\nb\n");
    EXPECT_EQ(ApplyLineEnds("\na\r\nb\n", LineEnds::Lf), "\na\r\nb\n");

    DecodedFile crlf = DecodeFileBytes("\xFF\xFE" + Utf16(u"<a>\r\n</a>\r\n"));
    EXPECT_EQ(EncodeText(crlf.text + "<b/>\n\n", crlf.codec).bytes,
              "\xFF\xFE" + Utf16(u"<a>\r\n</a>\r\n<b/>\r\n\r\n"));
}

TEST(FileCodec, UnencodableCharacters) {
    TextCodec latin1 = Codec("ISO-8859-1");
    auto encode = [&](std::string_view text) { return EncodeText(text, latin1); };
    EXPECT_EQ(encode("<a>é€😀</a>").bytes, "<a>\xE9&#8364;&#128512;</a>");
    EXPECT_EQ(encode("<a b=\"x€\" c='€'/>").bytes, "<a b=\"x&#8364;\" c='&#8364;'/>");
    EXPECT_EQ(encode("<!DOCTYPE a [<!ENTITY e \"x>\"><!-- ' -->]><a>€</a>").bytes,
              "<!DOCTYPE a [<!ENTITY e \"x>\"><!-- ' -->]><a>&#8364;</a>");

    EncodeResult comment = encode("<a>\n<!-- x -->\n<!-- € -->\n</a>");
    EXPECT_EQ(comment.error,
              "Line 3: the character U+20AC cannot be written in ISO-8859-1 inside a comment. "
              "Use a different encoding or remove the character.");
    EXPECT_TRUE(comment.bytes.empty());

    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"<a>€</a>\r\n<!-- a > b -->\r\r\n<!-- > € -->", "Line 4: the character U+20AC"},
        {"<?pi €?><a/>", "inside a processing instruction"},
        {"<a><![CDATA[ <b> € ]]></a>", "inside a CDATA section"},
        {"<!DOCTYPE a [<!ENTITY e \"€\">]><a/>", "inside a DOCTYPE"},
        {"<!DOCTYPE a [<!ENTITY e \"]>€\">]><a/>", "inside a DOCTYPE"},
        {"<a€/>", "inside a tag or attribute name"},
        {"<a b='>' c€='1'/>", "inside a tag or attribute name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_NE(encode(c.text).error.find(c.error), std::string::npos) << encode(c.text).error;
    }
    EXPECT_EQ(EncodeText("<a>€</a>", Codec("windows-1252")).bytes, "<a>\x80</a>");
}

class FileCodecFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quorrel-codec-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(FileCodecFiles, WriteFileAtomically) {
    fs::path file = dir_ / "x.xml";
    EXPECT_EQ(WriteFileAtomically(file, "one"), "");
    EXPECT_EQ(Slurp(file), "one");
    mode_t mask = umask(0);
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    EXPECT_EQ(WriteFileAtomically(file, "two"), "");
    EXPECT_EQ(Slurp(file), "two");
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    fs::path missing = dir_ / "no" / "y.xml";
    EXPECT_EQ(WriteFileAtomically(missing, "x"),
              "Cannot write '" + missing.string() + "': No such file or directory");
    EXPECT_EQ(WriteFileAtomically(file.string() + "/", "x"),
              "Cannot write '" + file.string() + "/': Not a directory");
    EXPECT_EQ(Slurp(file), "two");

    // The rename fails after the temporary file was written: it must go away.
    fs::create_directory(dir_ / "sub");
    EXPECT_EQ(WriteFileAtomically(dir_ / "sub", "x"),
              "Cannot write '" + (dir_ / "sub").string() + "': Is a directory");
    EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(FileCodecFiles, WriteFileAtomicallyThroughSymlink) {
    fs::create_directory(dir_ / "real");
    std::ofstream(dir_ / "real" / "t.xml") << "old";
    fs::create_symlink("real/t.xml", dir_ / "link.xml");
    EXPECT_EQ(WriteFileAtomically(dir_ / "link.xml", "new"), "");
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.xml"));
    EXPECT_EQ(fs::read_symlink(dir_ / "link.xml"), "real/t.xml");
    EXPECT_EQ(Slurp(dir_ / "real" / "t.xml"), "new");
}

TEST_F(FileCodecFiles, ReadWholeFile) {
    std::string big(300000, 'x');
    big[1000] = '\0';
    std::ofstream(dir_ / "big", std::ios::binary) << big;
    EXPECT_EQ(Slurp(dir_ / "big"), big);
    std::ofstream(dir_ / "empty");
    EXPECT_EQ(Slurp(dir_ / "empty"), "");

    std::string bytes = "stale";
    EXPECT_EQ(ReadWholeFile(dir_, bytes), "Cannot read '" + dir_.string() + "': Is a directory");
    EXPECT_EQ(bytes, "");
    fs::path missing = dir_ / "missing";
    EXPECT_EQ(ReadWholeFile(missing, bytes),
              "Cannot read '" + missing.string() + "': No such file or directory");
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    EXPECT_NE(ReadWholeFile(dir_ / "fifo", bytes).find("is not a regular file"), std::string::npos);
}
