// Documents built to hurt: deep, huge, crowded, expanding, pointing at
// things that are not files, badly encoded. Each is handled, or refused with
// a message that says why; nothing crashes, hangs or recurses per level.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "doc/core/FileCodec.h"
#include "doc/core/ParseLimits.h"
#include "edit/core/TreeCommands.h"
#include "tests/hostile/HostileSupport.h"
#include "views/source/core/Colorize.h"

using namespace quorrel;
using namespace quorrel::hostile;

namespace {

std::string Repeat(std::string_view piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

std::string Nested(std::size_t levels, std::string_view inner = "x") {
    return Repeat("<e>", levels) + std::string(inner) + Repeat("</e>", levels);
}

// Entities that each nest `levels` elements around the next: within one
// entity the parser's own depth limit holds, across them it does not.
std::string NestedThroughEntities(std::size_t entities, std::size_t levels) {
    std::string doc = "<!DOCTYPE r [";
    for (std::size_t i = 0; i < entities; ++i) {
        std::string inner = i + 1 < entities ? "&e" + std::to_string(i + 1) + ";" : "x";
        doc += "<!ENTITY e" + std::to_string(i) + " \"" + Nested(levels, inner) + "\">";
    }
    return doc + "]><r>&e0;</r>";
}

bool RunsCoverText(const std::vector<FormatRun>& runs, std::size_t size) {
    std::size_t at = 0;
    for (const FormatRun& run : runs) {
        if (run.start != at || run.end <= run.start) {
            return false;
        }
        at = run.end;
    }
    return at == size;
}

void ExpectRefused(const Opened& o, const std::string& reason) {
    EXPECT_TRUE(o.result.opened);
    EXPECT_FALSE(o.result.parsed);
    EXPECT_NE(o.message().find(reason), std::string::npos) << o.message();
    EXPECT_TRUE(o.items.IsEmpty());
}

}  // namespace

TEST(HostileNesting, HundredThousandLevelsFailWithAParseError) {
    TempDir dir;
    const std::string text = Nested(100000);
    Opened deep(dir.write("deep.xml", text));
    ExpectRefused(deep,
                  "Excessive depth in document: elements are nested more than 256 levels deep");
    EXPECT_EQ(deep.doc.Text(), text);  // the source pane still shows it
    EXPECT_TRUE(RunsCoverText(ColorizeAll(text), text.size()));

    // Entities must not get around the limit.
    Opened entities(dir.write("entities.xml", NestedThroughEntities(20, 250)), false);
    ExpectRefused(entities, "Excessive depth in document");

    // The limit itself: 256 levels below the document element load, 257 do not.
    Opened deepest(dir.write("deepest.xml", Nested(257)));
    EXPECT_TRUE(deepest.result.parsed) << deepest.message();
    Opened viaEntity(
        dir.write("via-entity.xml", "<!DOCTYPE r [<!ENTITY e \"" + Nested(200) + "\">]><r><a>" +
                                        Nested(55, "&e;") + "</a></r>"),
        false);
    EXPECT_TRUE(viaEntity.result.parsed) << viaEntity.message();
    Opened oneTooMany(
        dir.write("one-too-many.xml", "<!DOCTYPE r [<!ENTITY e \"" + Nested(200) + "\">]><r><a>" +
                                          Nested(56, "&e;") + "</a></r>"),
        false);
    ExpectRefused(oneTooMany, "Excessive depth in document");
}

TEST(HostileNesting, DeepTreesAreBuiltCopiedWrittenAndFreedWithoutRecursion) {
    // The DOM itself can be made deeper than any parse allows.
    constexpr std::size_t kLevels = 100000;
    CollectingSink sink;
    CDoc doc(sink);
    doc.SetDom(std::make_unique<XmlDocument>());
    XmlDocument& dom = doc.Dom();
    XmlNode node = dom.createElement("e");
    node.appendChild(dom.createTextNode("x"));
    for (std::size_t i = 1; i < kLevels; ++i) {
        XmlNode parent = dom.createElement("e");
        parent.appendChild(node);
        node = parent;
    }
    // Preserved space keeps the text free of indentation, so its size is linear.
    node.setAttribute("xml:space", "preserve");
    dom.documentNode().appendChild(node);

    const std::string text = dom.xml();
    EXPECT_EQ(text, "<e xml:space=\"preserve\">" + Nested(kLevels - 1) + "</e>\n");

    XmlNode fragment = dom.createDocumentFragment();
    CopyNode(node, fragment);
    std::size_t copied = 0;
    for (XmlNode n = fragment.firstChild(); n; n = n.firstChild()) {
        ++copied;
    }
    EXPECT_EQ(copied, kLevels + 1);  // the elements and the innermost text

    doc.ReplaceText(text);
    auto items = std::make_unique<CTreeItems>();
    BuildTreeFromDom(doc, *items);
    EXPECT_EQ(CountItems(*items), kLevels + 1);  // the elements and the text
    ExpandBranches(*items, items->GetRootItem());
    items.reset();

    auto tooDeep = FindTooDeepElement(static_cast<xmlNodePtr>(node.raw()));
    ASSERT_TRUE(tooDeep);
    doc.TakeDom().reset();
}

TEST(HostileSize, TenMegabyteSingleLine) {
    TempDir dir;
    std::string text = "<r>";
    std::size_t elements = 0;
    while (text.size() < 10 * 1024 * 1024) {
        text +=
            "<i n=\"" + std::to_string(elements) + "\">v&amp;" + std::to_string(elements) + "</i>";
        ++elements;
    }
    text += "</r>";
    ASSERT_EQ(text.find('\n'), std::string::npos);
    const std::string path = dir.write("line.xml", text);
    Opened o(path, false);
    ASSERT_TRUE(o.result.parsed) << o.message();
    EXPECT_EQ(CountItems(o.items), 1 + 3 * elements);
    EXPECT_TRUE(RunsCoverText(ColorizeAll(o.doc.Text()), text.size()));
    EXPECT_EQ(LineStartStates(o.doc.Text()).size(), 1u);

    EXPECT_EQ(o.doc.OnSaveDocument(path, o.doc.Text()), "");
    EXPECT_EQ(ReadBytes(path), text);
    // The serialisation (one element a line) re-parses to the same tree.
    o.doc.ReplaceText(o.doc.Dom().xml());
    CTreeItems again;
    ReparseAndBuildTree(o.doc, again);
    EXPECT_EQ(DescribeItems(again), DescribeItems(o.items));
}

TEST(HostileSize, MillionSiblingsLoadAndTakeACommand) {
    TempDir dir;
    const std::string path = dir.write("siblings.xml", "<r>" + Repeat("<e/>", 1000000) + "</r>");
    Opened o(path, false);
    ASSERT_TRUE(o.result.parsed) << o.message();
    EXPECT_EQ(CountItems(o.items), 1000001u);

    const CTreeItem* last = &o.items.GetRootItem()->children().back();
    CurrentItem current = CurrentItemOf(last);
    CommandInputs inputs{false, "n", "1", true};
    EXPECT_EQ(RunTreeCommand(o.doc, o.items, current, TreeCommand::AddAttribute, inputs, o.sink),
              CommandOutcome::Done);
    EXPECT_TRUE(o.sink.messages.empty());
    EXPECT_EQ(CountItems(o.items), 2000001u);
    // Each tag changes where it stands; nothing else is written.
    EXPECT_EQ(o.doc.Text(), "<r>" + Repeat("<e n=\"1\"/>", 1000000) + "</r>");
}

TEST(HostileSize, CrowdedElementsAreRefusedBeforeTheParserStalls) {
    TempDir dir;
    auto attributes = [](std::size_t n, std::string_view quote = "\"") {
        std::string out;
        for (std::size_t i = 0; i < n; ++i) {
            out += " a" + std::to_string(i) + "=" + std::string(quote) + "v" + std::string(quote);
        }
        return out;
    };
    Opened million(dir.write("million.xml", "<r>\n<crowded" + attributes(1000000) + "/></r>"));
    ExpectRefused(million,
                  "The element 'crowded' has more than 10000 attributes, more than Quorrel can "
                  "load (line 2)");

    // Bytes as a server sends them, in UTF-16.
    std::u16string wide = u"\uFEFF<r";
    for (std::size_t i = 0; i <= kMaxAttributesPerElement; ++i) {
        wide += u" a" + std::u16string(1, char16_t(u'a' + i % 26)) +
                std::u16string(i / 26 + 1, u'x') + u"=''";
    }
    wide += u"/>";
    XmlDocument fetched;
    EXPECT_FALSE(fetched.loadBytes(
        std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * 2)));
    EXPECT_NE(fetched.parseError().reason.find("has more than 10000 attributes"), std::string::npos)
        << fetched.parseError().reason;

    // The limit itself loads.
    Opened limit(
        dir.write("limit.xml", "<r><e" + attributes(kMaxAttributesPerElement, "'") + "/></r>"),
        false);
    ASSERT_TRUE(limit.result.parsed) << limit.message();
    EXPECT_EQ(limit.items.GetRootItem()->children()[0].children().size(), kMaxAttributesPerElement);

    // Start tags made by entities, with the '<' hidden as a character reference.
    Opened entity(dir.write("entity.xml", "<!DOCTYPE r [<!ENTITY e \"&#60;x" +
                                              attributes(10001, "'") + "/>\">]><r>&e;</r>"),
                  false);
    ExpectRefused(entity, "In the entity 'e': The element 'x' has more than 10000 attributes");

    // Defaults from the DTD count too.
    std::string attlist = "<!DOCTYPE r [<!ATTLIST r";
    for (std::size_t i = 0; i <= kMaxAttributesPerElement; ++i) {
        attlist += " d" + std::to_string(i) + " CDATA 'v'";
    }
    Opened defaults(dir.write("defaults.xml", attlist + ">]><r/>"), false);
    ExpectRefused(defaults, "The DTD gives the element 'r' more than 10000 default attributes");

    // A default whose name could not be written back as an attribute.
    Opened badName(dir.write("bad-name.xml", "<!DOCTYPE r [<!ATTLIST r :ang CDATA 'en'>]><r/>"),
                   false);
    ExpectRefused(badName, "a default attribute named ':ang', which is not a valid qualified name");
}

TEST(HostileEntities, ExpansionBombsFailQuickly) {
    TempDir dir;
    std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" +
                  Repeat("&l" + std::to_string(i - 1) + ";", 10) + "\">";
    }
    laughs += "]><r>&l9;</r>";
    Opened billion(dir.write("laughs.xml", laughs), false);
    ExpectRefused(billion, "entity");

    const std::string big = "<!DOCTYPE r [<!ENTITY a \"" + std::string(50000, 'a') + "\">]>";
    Opened quadratic(dir.write("quadratic.xml", big + "<r>" + Repeat("&a;", 50000) + "</r>"),
                     false);
    ExpectRefused(quadratic, "entity");
    Opened inAttribute(dir.write("attribute.xml", big + "<r x=\"" + Repeat("&a;", 50000) + "\"/>"),
                       false);
    ExpectRefused(inAttribute, "AttValue length too long");
}

TEST(HostileEntities, ExternalEntitiesThatAreNotFiles) {
    TempDir dir;
    const std::string fifo = (dir.path / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = (dir.path / "folder").string();
    fs::create_directory(folder);
    const std::string missing = (dir.path / "missing.ent").string();
    const std::pair<std::string, std::string> cases[] = {
        {"/dev/zero", "it is not a regular file"},
        {"/dev/urandom", "it is not a regular file"},
        {fifo, "it is not a regular file"},
        {missing, std::strerror(ENOENT)},
        {folder, "it is a directory"},
    };
    for (const auto& [target, reason] : cases) {
        SCOPED_TRACE(target);
        for (bool validate : {true, false}) {
            // The entity's text would be lost: never opened without it.
            Opened entity(dir.write("entity.xml", "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + target +
                                                      "\">]><r>&e;</r>"),
                          validate);
            ExpectRefused(entity, "Cannot load '" + target + "': " + reason);
        }
        // A DTD: validating fails, not validating opens the document and says what was not read.
        Opened dtd(dir.write("dtd.xml", "<!DOCTYPE r SYSTEM \"" + target + "\"><r/>"));
        ExpectRefused(dtd, "Cannot load '" + target + "': " + reason);
        ExpectRefused(dtd, "with validation off the document opens without it");
        Opened unread(dir.write("dtd.xml", "<!DOCTYPE r SYSTEM \"" + target + "\"><r/>"), false);
        EXPECT_TRUE(unread.result.parsed);
        EXPECT_FALSE(unread.items.IsEmpty());
        EXPECT_NE(unread.message().find("Cannot load '" + target + "': " + reason),
                  std::string::npos)
            << unread.message();
        Opened schema(dir.write("schema.xml",
                                "<r xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                                "xsi:noNamespaceSchemaLocation=\"" +
                                    target + "\"/>"));
        ExpectRefused(schema, "Cannot load '" + target + "': " + reason);
    }
}

TEST(HostileEncodings, BadBytesLoadAndSaveUneditedAsTheyWere) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;    // as the source pane shows it
        std::string reason;  // of the parse error; empty: no bytes are invalid
    };
    const std::string u16 = std::string("\xFF\xFE<\0r\0>\0x\0<\0/\0r\0>\0", 18);
    // Invalid bytes make the document not well-formed at the first of them;
    // the user is warned first that an edited save writes U+FFFD for them.
    const Case cases[] = {
        {"invalid-utf8.xml", "<r a=\"\xC3\">\xFF\xE2\x82</r>", "<r a=\"\uFFFD\">\uFFFD\uFFFD</r>",
         "Bytes not valid in UTF-8 at byte 6: 0xC3 0x22 0x3E 0xFF (line 1, column 7)"},
        {"invalid-and-broken.xml", "<r>\xFF</x>", "<r>\uFFFD</x>",
         "Bytes not valid in UTF-8 at byte 3: 0xFF 0x3C 0x2F 0x78 (line 1, column 4)"},
        {"truncated-utf16.xml", u16 + "<", "<r>x</r>\uFFFD",
         "Bytes not valid in UTF-16LE at byte 18: 0x3C (line 1, column 9)"},
        {"truncated-surrogate.xml", u16 + "\x3D\xD8", "<r>x</r>\uFFFD",
         "Bytes not valid in UTF-16LE at byte 18: 0x3D 0xD8 (line 1, column 9)"},
        {"empty.xml", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write(c.name, c.bytes);
        Opened o(path);
        EXPECT_TRUE(o.result.opened);
        EXPECT_EQ(o.doc.Text(), c.text);
        EXPECT_FALSE(o.result.parsed) << o.message();
        if (!c.reason.empty()) {
            ASSERT_EQ(o.sink.messages.size(), 2u);
            EXPECT_NE(o.sink.messages[0].find("saved after an edit U+FFFD replaces those bytes"),
                      std::string::npos)
                << o.sink.messages[0];
            EXPECT_EQ(o.sink.messages[1], CDoc::ParseErrorMessage(c.reason));
            // Parsing the unchanged text again fails the same way; an edit makes the
            // U+FFFD ordinary text.
            o.sink.messages.clear();
            EXPECT_FALSE(o.doc.ReparseDocument());
            ASSERT_EQ(o.sink.messages.size(), 1u);
            EXPECT_EQ(o.sink.messages[0], CDoc::ParseErrorMessage(c.reason));
        } else {
            EXPECT_TRUE(o.sink.messages.empty());
        }
        EXPECT_EQ(o.doc.OnSaveDocument(path, o.doc.Text()), "");
        EXPECT_EQ(ReadBytes(path), c.bytes);
    }

    // A NUL ends the text; an unedited save keeps every byte before it.
    const std::string path = dir.write("nul.xml", std::string("<r>\xFF\0<x/></r>", 13));
    Opened nul(path);
    ASSERT_TRUE(nul.result.nulOffset);
    EXPECT_EQ(*nul.result.nulOffset, 4u);
    EXPECT_EQ(nul.doc.Text(), "<r>\uFFFD");
    EXPECT_EQ(nul.doc.OnSaveDocument(path, nul.doc.Text()), "");
    EXPECT_EQ(ReadBytes(path), "<r>\xFF");
}
