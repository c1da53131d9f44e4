// Documents as users' systems hold them: DTDs named by public identifiers
// and found through the XML catalogs, DTDs that are not there, internal
// subsets written by hand, defaults from the DTD, namespaces, adjacent CDATA
// sections and bytes their encoding does not define. A tree command must
// change only what it changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "doc/core/Doc.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/TestEditor.h"

// Inputs are written with designated initializers; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace quorrel;
using namespace quorrel::test_support;
using quorrel::hostile::ReadBytes;
using quorrel::hostile::TempDir;
using TC = TreeCommand;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The tree without the expansion marks.
std::string Shape(const Editor& e) {
    std::string tree = e.Tree();
    std::erase(tree, '+');
    return tree;
}

// Every element and attribute in document order with its namespace: what a
// command must leave alone where it did not act.
std::string QualifiedNames(XmlDocument& dom, bool declarations) {
    std::string out;
    std::vector<XmlNode> pending{dom.documentElement()};
    while (!pending.empty()) {
        XmlNode n = pending.back();
        pending.pop_back();
        if (n.nodeType() != NodeType::Element) {
            continue;
        }
        out += "{" + n.namespaceURI() + "}" + n.localName() + "\n";
        XmlNamedNodeMap attributes = n.attributes();
        for (std::size_t i = 0; i < attributes.length(); ++i) {
            XmlNode a = attributes.item(i);
            if (!declarations && a.namespaceURI() == "http://www.w3.org/2000/xmlns/") {
                continue;
            }
            out += "  @{" + a.namespaceURI() + "}" + a.localName() + "=" + a.nodeValue() + "\n";
        }
        std::vector<XmlNode> children = n.childNodes();
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return out;
}

std::string Reparsed(const std::string& text, bool declarations = true) {
    XmlDocument dom;
    LoadOptions options;
    options.validateOnParse = false;
    EXPECT_TRUE(dom.loadXML(text, options)) << dom.parseError().reason << "\n" << text;
    return QualifiedNames(dom, declarations);
}

constexpr const char* kLibraryDoctype = R"(<!DOCTYPE lib [
  <!-- the library, as its author laid it out -->
  <!ENTITY % ids "<!ATTLIST book id ID #IMPLIED>">
  <!ELEMENT lib   (book*, note?)>
  <!ELEMENT book (title, author*)>
  %ids;
  <!ATTLIST book
            lang  CDATA "en"
            format (paper|cloth) 'paper'>
  <!ELEMENT title (#PCDATA)> <!ELEMENT author (#PCDATA)>
  <!ELEMENT note (#PCDATA)>
  <?editor keep this?>
]>)";

std::string Library() {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + kLibraryDoctype +
           "\n<lib><book id=\"b1\"><title>T</title><author>A</author></book><note>n</note></lib>\n";
}

}  // namespace

TEST(RealWorldDtds, CataloguedDtdsAreReadOfflineAndValidate) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"svg.svg", R"(<?xml version="1.0" standalone="no"?>
<!DOCTYPE svg PUBLIC "-//W3C//DTD SVG 1.1//EN"
  "http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd">
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="4" height="4">
  <g id="a"><rect width="1" height="1"/></g>
  <use xlink:href="#a"/>
</svg>
)"},
        {"policy.policy", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE policyconfig PUBLIC
 "-//freedesktop//DTD PolicyKit Policy Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/PolicyKit/1.0/policyconfig.dtd">
<policyconfig>
  <action id="org.example.run">
    <description>Run it</description>
    <message>Authentication is required</message>
    <defaults><allow_any>no</allow_any><allow_inactive>no</allow_inactive><allow_active>auth_admin</allow_active></defaults>
  </action>
</policyconfig>
)"},
        {"xhtml.xhtml", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN"
    "http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd">
<html xmlns="http://www.w3.org/1999/xhtml"><head><title>t</title></head>
<body><p>a&nbsp;b &copy;</p></body></html>
)"},
        {"book.xml", R"(<?xml version="1.0"?>
<!DOCTYPE article PUBLIC "-//OASIS//DTD DocBook XML V4.5//EN"
  "http://www.oasis-open.org/docbook/xml/4.5/docbookx.dtd">
<article><title>One &ndash; two</title><para>Text&hellip;</para></article>
)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Editor e(Editor::FromFile{}, dir.write(c.name, c.text), true);
        EXPECT_TRUE(e.loaded.parsed) << (e.sink.messages.empty() ? "" : e.sink.messages[0]);
        EXPECT_TRUE(e.sink.messages.empty());
        EXPECT_FALSE(e.items.IsEmpty());
    }
    // The DTDs' entities reached the text of the tree.
    Editor xhtml(Editor::FromFile{}, (dir.path / "xhtml.xhtml").string(), true);
    EXPECT_TRUE(Contains(xhtml.Tree(), "a\u00A0b \u00A9"));
    Editor book(Editor::FromFile{}, (dir.path / "book.xml").string(), false);
    EXPECT_TRUE(Contains(book.Tree(), "One \u2013 two"));

    // SVG's DTD gives use elements fixed xlink attributes: shown, never written.
    Editor svg(Editor::FromFile{}, (dir.path / "svg.svg").string(), true);
    EXPECT_TRUE(Contains(svg.Tree(), "xlink:type = \" simple \""));
    ASSERT_EQ(svg.Run("0", TC::RenameElement, {.name = "g", .allOccurrences = true}),
              CommandOutcome::Done);
    EXPECT_EQ(svg.doc.Text(), R"(<?xml version="1.0" standalone="no"?>
<!DOCTYPE svg PUBLIC "-//W3C//DTD SVG 1.1//EN"
  "http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd">
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="4" height="4">
  <g id="a"><rect width="1" height="1"/></g>
  <use xlink:href="#a"/>
</svg>
)");
    EXPECT_TRUE(Contains(svg.Tree(), "xlink:type = \" simple \""));
}

TEST(RealWorldDtds, AMissingDtdOpensWithoutValidationAndFailsWithIt) {
    TempDir dir;
    const std::string body = "<note><to>Tove</to></note>\n";
    const std::string beside =
        dir.write("beside.xml", "<!DOCTYPE note SYSTEM \"note.dtd\">\n" + body);
    const std::string web = dir.write("web.xml",
                                      "<!DOCTYPE note PUBLIC \"-//Nobody//DTD Note//EN\" "
                                      "\"http://www.example.invalid/note.dtd\">\n" +
                                          body);
    const std::string missingDtd = (dir.path / "note.dtd").string();
    struct Case {
        std::string path, names, why;
    };
    const Case cases[] = {
        {beside, missingDtd, "Cannot load '" + missingDtd + "': No such file or directory"},
        {web, "http://www.example.invalid/note.dtd",
         "a document that does not come from a URL never fetches from the network"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        // Validating: a validation failure that says what to do.
        Editor validating(Editor::FromFile{}, c.path, true);
        EXPECT_FALSE(validating.loaded.parsed);
        ASSERT_EQ(validating.sink.messages.size(), 1u);
        const std::string& failure = validating.sink.messages[0];
        EXPECT_TRUE(Contains(failure, c.names)) << failure;
        EXPECT_TRUE(Contains(failure, c.why)) << failure;
        EXPECT_TRUE(Contains(failure,
                             "It is neither beside the document nor in an XML catalog; "
                             "with validation off the document opens without it."))
            << failure;

        // Not validating: open, told once which DTD was not read.
        Editor open(Editor::FromFile{}, c.path, false);
        EXPECT_TRUE(open.loaded.parsed);
        EXPECT_EQ(open.Tree(), "0/0 note\n  2/2 to\n    4/4 Tove\n");
        ASSERT_EQ(open.sink.messages.size(), 1u);
        const std::string& warning = open.sink.messages[0];
        EXPECT_TRUE(warning.starts_with("The DTD '" + c.names + "' was not read: ")) << warning;
        EXPECT_TRUE(Contains(warning, c.why)) << warning;
        EXPECT_TRUE(
            warning.ends_with("The document is open without it: the entities and "
                              "default attributes it declares are missing."))
            << warning;
        EXPECT_TRUE(open.doc.ReparseDocument());
        EXPECT_EQ(open.sink.messages.size(), 1u);  // once, not on every parse
        EXPECT_EQ(open.Run("0", TC::AddAttribute, {.name = "x", .value = "1"}),
                  CommandOutcome::Done);
        EXPECT_EQ(open.sink.messages.size(), 1u);
        EXPECT_TRUE(open.doc.Text().starts_with(
            c.path == beside ? "<!DOCTYPE note SYSTEM \"note.dtd\">\n" : "<!DOCTYPE note PUBLIC"));
    }

    // An entity only the missing DTD declares is an error that names it: its text is not dropped.
    const std::string entity =
        dir.write("entity.xml", "<!DOCTYPE note SYSTEM \"note.dtd\">\n<note>a&nbsp;b</note>\n");
    Editor withEntity(Editor::FromFile{}, entity, false);
    EXPECT_FALSE(withEntity.loaded.parsed);
    ASSERT_FALSE(withEntity.sink.messages.empty());
    EXPECT_EQ(
        withEntity.sink.messages.back(),
        CDoc::ParseErrorMessage("Entity 'nbsp' not defined (the DTD '" + missingDtd +
                                "', which could declare it, was not read) (line 2, column 14)"));

    // Duplicate IDs are a validity error: reported when validating only.
    dir.write("ids.dtd", "<!ELEMENT r (e*)><!ELEMENT e EMPTY><!ATTLIST e id ID #IMPLIED>");
    const std::string ids =
        dir.write("ids.xml", "<!DOCTYPE r SYSTEM \"ids.dtd\"><r><e id=\"a\"/><e id=\"a\"/></r>");
    EXPECT_TRUE(Editor(Editor::FromFile{}, ids, false).loaded.parsed);
    EXPECT_FALSE(Editor(Editor::FromFile{}, ids, true).loaded.parsed);
}

TEST(RealWorldSerialise, EveryCommandKeepsTheInternalSubsetAndWritesNoDefaults) {
    // Items: 0 book (0.0 id, 0.1 lang, 0.2 format, 0.3 title, 0.4 author), 1 note.
    struct Case {
        const char* item;
        TC command;
        CommandInputs inputs;
        const char* expectedBody;  // what follows the internal subset
    };
    const Case cases[] = {
        {"0",
         TC::AddAttribute,
         {.name = "x", .value = "1"},
         "<lib><book id=\"b1\" x=\"1\"><title>T</title><author>A</author></book><note>n</note>"
         "</lib>\n"},
        {"0", TC::AddChildElement, {.name = "c", .value = "v"}, nullptr},
        {"1", TC::AddTextNode, {.value = "t"}, nullptr},
        {"0", TC::RenameElement, {.name = "volume"}, nullptr},
        {"1", TC::DeleteElementAndChildren, {}, nullptr},
        {"0.3", TC::DeleteElementOnly, {}, nullptr},
        {"1", TC::ElementToAttribute, {}, nullptr},
        {"0", TC::DuplicateElementSubTree, {}, nullptr},
        {"0.0", TC::ChangeAttributeName, {.name = "ident"}, nullptr},
        {"0.0", TC::ChangeAttributeValue, {.value = "b2"}, nullptr},
        {"0.0", TC::DeleteAttribute, {}, nullptr},
        {"0.0", TC::AttributeToElement, {}, nullptr},
        {"0.3.0", TC::ChangeTextValue, {.value = "U"}, nullptr},
        {"1.0", TC::DeleteTextNode, {}, nullptr},
    };
    const std::string prolog =
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + kLibraryDoctype + "\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(TreeCommandName(c.command));
        Editor e(Library());
        ASSERT_EQ(e.Run(c.item, c.command, c.inputs), CommandOutcome::Done)
            << (e.sink.messages.empty() ? "" : e.sink.messages[0]);
        const std::string& text = e.doc.Text();
        EXPECT_TRUE(text.starts_with(prolog)) << text;
        EXPECT_FALSE(Contains(text, "lang=")) << text;
        EXPECT_FALSE(Contains(text, "format=")) << text;
        if (c.expectedBody != nullptr) {
            EXPECT_EQ(text.substr(std::min(prolog.size(), text.size())), c.expectedBody);
        }
        // The DTD still gives every book its defaults.
        if (c.command != TC::RenameElement) {
            EXPECT_TRUE(Contains(e.Tree(), "lang = \" en \"")) << e.Tree();
        }
    }

    // A value a command sets is written, also when it equals the default.
    Editor same(Library());
    ASSERT_EQ(same.Run("0.1", TC::ChangeAttributeValue, {.value = "en"}), CommandOutcome::Done);
    EXPECT_TRUE(Contains(same.doc.Text(), "<book id=\"b1\" lang=\"en\">")) << same.doc.Text();
    Editor added(Library());
    ASSERT_EQ(added.Run("0", TC::AddAttribute, {.name = "format", .value = "paper"}),
              CommandOutcome::Done);
    EXPECT_TRUE(Contains(added.doc.Text(), "<book id=\"b1\" format=\"paper\">"))
        << added.doc.Text();
    Editor renamed(Library());
    ASSERT_EQ(renamed.Run("0.2", TC::ChangeAttributeName, {.name = "binding"}),
              CommandOutcome::Done);
    EXPECT_TRUE(Contains(renamed.doc.Text(), "<book id=\"b1\" binding=\"paper\">"))
        << renamed.doc.Text();
}

TEST(RealWorldNamespaces, CommandsKeepTheNamespacesOfWhatTheyDoNotChange) {
    // A prefix declared and used on the element's own attribute survives a rename.
    Editor own("<r><p xmlns:a=\"urn:a\" a:x=\"1\"/></r>");
    ASSERT_EQ(own.Run("0", TC::RenameElement, {.name = "q"}), CommandOutcome::Done)
        << (own.sink.messages.empty() ? "" : own.sink.messages[0]);
    EXPECT_EQ(own.doc.Text(), "<r><q xmlns:a=\"urn:a\" a:x=\"1\"/></r>");

    // Renaming an element that declares its descendants' prefix (even to its
    // own name) declares nothing new on them.
    const std::string signature =
        "<doc><dsig:Signature xmlns:dsig=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"s\">"
        "<dsig:SignedInfo><dsig:Reference URI=\"#x\"/></dsig:SignedInfo>"
        "<dsig:SignatureValue>abc</dsig:SignatureValue></dsig:Signature></doc>";
    for (const char* name : {"dsig:Signature", "Sig"}) {
        SCOPED_TRACE(name);
        Editor dsig(signature);
        const std::string before = dsig.Tree();
        ASSERT_EQ(dsig.Run("0", TC::RenameElement, {.name = name, .allOccurrences = true}),
                  CommandOutcome::Done);
        EXPECT_EQ(std::count(dsig.doc.Text().begin(), dsig.doc.Text().end(), '='), 3)
            << dsig.doc.Text();  // xmlns:dsig, Id and URI: nothing added
        if (std::string_view(name) == "dsig:Signature") {
            EXPECT_EQ(Shape(dsig), before);
            EXPECT_EQ(Reparsed(dsig.doc.Text()), Reparsed(signature));
        }
    }

    // Unwrapping the element that declares the default namespace keeps its
    // children in that namespace; one in no namespace stays in none.
    Editor unwrap("<r><p xmlns=\"urn:u\"><c>t</c></p></r>");
    ASSERT_EQ(unwrap.Run("0", TC::DeleteElementOnly, {}), CommandOutcome::Done);
    EXPECT_EQ(unwrap.doc.Text(), "<r><c xmlns=\"urn:u\">t</c></r>");
    EXPECT_EQ(Reparsed(unwrap.doc.Text()),
              "{}r\n{urn:u}c\n  @{http://www.w3.org/2000/xmlns/}xmlns=urn:u\n");
    Editor none("<r xmlns=\"urn:u\"><p xmlns=\"\"><c/></p><d/></r>");
    ASSERT_EQ(none.Run("0", TC::DeleteElementOnly, {}), CommandOutcome::Done);
    EXPECT_EQ(none.doc.Text(), "<r xmlns=\"urn:u\"><c xmlns=\"\"/><d/></r>");
    EXPECT_EQ(Reparsed(none.doc.Text(), false), "{urn:u}r\n{}c\n{urn:u}d\n");

    // A declaration the DTD gives the old name is written on the new one, so
    // what stands below keeps its namespace; renamed to its own name, nothing is written.
    const std::string defaulted =
        "<!DOCTYPE r [<!ATTLIST c xmlns CDATA \"urn:c\">]><r xmlns=\"urn:r\"><c><b/></c></r>";
    Editor away(defaulted);
    ASSERT_EQ(away.Run("0", TC::RenameElement, {.name = "d"}), CommandOutcome::Done);
    EXPECT_TRUE(Contains(away.doc.Text(), "<d xmlns=\"urn:c\">")) << away.doc.Text();
    EXPECT_TRUE(Contains(Reparsed(away.doc.Text(), false), "{urn:c}b")) << away.doc.Text();
    Editor same(defaulted);
    ASSERT_EQ(same.Run("0", TC::RenameElement, {.name = "c"}), CommandOutcome::Done);
    EXPECT_EQ(same.doc.Text(), defaulted);
    EXPECT_TRUE(Contains(Reparsed(same.doc.Text(), false), "{urn:c}b"));

    // What a command makes takes the namespace where it stands, as typed text would.
    Editor added("<svg xmlns=\"http://www.w3.org/2000/svg\"><g><rect/></g></svg>");
    ASSERT_EQ(added.Run("0", TC::AddChildElement, {.name = "circle"}), CommandOutcome::Done);
    EXPECT_TRUE(Contains(added.doc.Text(), "<circle/>")) << added.doc.Text();
    EXPECT_TRUE(Contains(Reparsed(added.doc.Text()), "{http://www.w3.org/2000/svg}circle"));

    // Every command on a namespaced document leaves the rest as it was.
    const std::string mixed =
        "<a:r xmlns:a=\"urn:a\" xmlns=\"urn:d\"><a:p a:k=\"1\" j=\"2\"><q>t</q></a:p>"
        "<s xmlns:b=\"urn:b\"><b:t b:u=\"3\">x</b:t></s></a:r>";
    for (TC command : {TC::RenameElement, TC::DuplicateElementSubTree, TC::DeleteElementOnly}) {
        SCOPED_TRACE(TreeCommandName(command));
        Editor e(mixed);
        ASSERT_EQ(e.Run("1", command, {.name = "s"}), CommandOutcome::Done)
            << (e.sink.messages.empty() ? "" : e.sink.messages[0]);
        std::string names = Reparsed(e.doc.Text(), false);
        EXPECT_TRUE(Contains(names, "{urn:a}p\n  @{urn:a}k=1\n  @{}j=2\n{urn:d}q\n")) << names;
        EXPECT_TRUE(Contains(names, "{urn:b}t\n  @{urn:b}u=3\n")) << names;
    }
}

TEST(RealWorldCData, AdjacentSectionsStayTwoSections) {
    Editor e("<r><p><![CDATA[a]]><![CDATA[b]]></p><q><![CDATA[c]]> \n <![CDATA[d]]></q></r>");
    EXPECT_EQ(e.Tree(), "0/0 r\n  2/2 p\n    7/7 a\n    7/7 b\n  2/2 q\n    7/7 c\n    7/7 d\n");
    ASSERT_EQ(e.Run("0", TC::AddAttribute, {.name = "x", .value = "1"}), CommandOutcome::Done);
    EXPECT_EQ(e.doc.Text(),
              "<r><p x=\"1\"><![CDATA[a]]><![CDATA[b]]></p><q><![CDATA[c]]> \n "
              "<![CDATA[d]]></q></r>");
    EXPECT_EQ(Shape(e),
              "0/0 r\n  2/2 p\n    3/3 x = \" 1 \"\n    7/7 a\n    7/7 b\n  2/2 q\n    7/7 c\n    "
              "7/7 d\n");
}

TEST(RealWorldEncodings, BytesTheEncodingDoesNotDefineFailWhereTheyStand) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        std::string reason;
    };
    const Case cases[] = {
        {"surrogate.xml", "<r>\n  <a>x\xED\xA0\x80y</a>\n</r>",
         "Bytes not valid in UTF-8 at byte 10: 0xED 0xA0 0x80 0x79 (line 2, column 7)"},
        {"five-bytes.xml", "<r>ab\xF8\x88\x80\x80\x80</r>",
         "Bytes not valid in UTF-8 at byte 5: 0xF8 0x88 0x80 0x80 (line 1, column 6)"},
        {"sjis.xml", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<r>\x82\xA0\x85\x40</r>",
         "Bytes not valid in Shift_JIS at byte 49: 0x85 0x40 0x3C 0x2F (line 2, column 5)"},
        {"tis620.xml", "<?xml version=\"1.0\" encoding=\"TIS-620\"?>\n<r>\xA1\xFC</r>",
         "Bytes not valid in TIS-620 at byte 45: 0xFC 0x3C 0x2F 0x72 (line 2, column 5)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write(c.name, c.bytes);
        Editor e(Editor::FromFile{}, path, false);
        EXPECT_TRUE(e.loaded.opened);
        EXPECT_FALSE(e.loaded.parsed);
        ASSERT_EQ(e.sink.messages.size(), 2u);
        EXPECT_TRUE(
            Contains(e.sink.messages[0], "saved after an edit U+FFFD replaces those bytes"));
        EXPECT_EQ(e.sink.messages[1], CDoc::ParseErrorMessage(c.reason));
        // Saved unedited: the same bytes. After an edit U+FFFD is text like any other.
        EXPECT_EQ(e.doc.OnSaveDocument(path, e.doc.Text()), "");
        EXPECT_EQ(ReadBytes(path), c.bytes);
        e.doc.OnTextChanged(e.doc.Text() + " ");
        EXPECT_TRUE(e.doc.ReparseDocument());
    }

    // A declared encoding that cannot be used is an error that names it.
    const std::pair<std::string, std::string> declared[] = {
        {"<?xml version=\"1.0\" encoding=\"bogus-enc\"?>\n<r/>",
         "Unsupported encoding bogus-enc (line 1)"},
        {"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<r/>",
         "Document labelled UTF-16 but has UTF-8 content (line 1)"},
    };
    for (const auto& [bytes, reason] : declared) {
        SCOPED_TRACE(bytes);
        Editor e(Editor::FromFile{}, dir.write("declared.xml", bytes), false);
        EXPECT_FALSE(e.loaded.parsed);
        ASSERT_EQ(e.sink.messages.size(), 1u);
        EXPECT_EQ(e.sink.messages[0], CDoc::ParseErrorMessage(reason));
    }
}

TEST(RealWorldEncodings, ExternalEntitiesAreReadInTheEncodingTheyDeclare) {
    TempDir dir;
    auto utf16 = [](std::u16string_view text) {
        std::string out = "\xFF\xFE";
        for (char16_t c : text) {
            out += char(c & 0xFF);
            out += char(c >> 8);
        }
        return out;
    };
    dir.write("wide.dtd", utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
                                u"<!ELEMENT r (#PCDATA)>\n<!ENTITY w \"\u00E9t\u00E9\">\n"
                                u"<!ENTITY chapter SYSTEM \"chapter.ent\">\n"));
    dir.write("chapter.ent", utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\u00BDday"));
    dir.write("latin.dtd",
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!ENTITY l \"caf\xE9\">\n");
    for (bool validate : {true, false}) {
        SCOPED_TRACE(validate);
        Editor wide(Editor::FromFile{},
                    dir.write("wide.xml", "<!DOCTYPE r SYSTEM \"wide.dtd\">\n<r>&w; &chapter;</r>"),
                    validate);
        EXPECT_TRUE(wide.loaded.parsed)
            << (wide.sink.messages.empty() ? "" : wide.sink.messages[0]);
        EXPECT_EQ(wide.Tree(), "0/0 r\n  4/4 \u00E9t\u00E9 \u00BDday\n");
    }
    Editor latin(Editor::FromFile{},
                 dir.write("latin.xml",
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<!DOCTYPE r SYSTEM \"latin.dtd\">\n<r>&l;</r>"),
                 false);
    EXPECT_EQ(latin.Tree(), "0/0 r\n  4/4 caf\u00E9\n");
}
