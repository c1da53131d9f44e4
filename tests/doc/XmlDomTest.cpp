#include "doc/core/XmlDom.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "tests/support/TestEditor.h"
#include "views/tree/core/TreeItems.h"

using namespace quorrel;
namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(QUORREL_TEST_DATA) / "dom";

using Strings = std::vector<std::string>;

// A fresh directory under /tmp, removed with its contents.
struct TempDir {
    fs::path path;
    explicit TempDir(std::string prefix = "quorrel-dom-") {
        prefix = "/tmp/" + prefix + "XXXXXX";
        path = mkdtemp(prefix.data()) ? prefix : throw std::runtime_error("mkdtemp failed");
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
        return path / name;
    }
};

// Runs from an unrelated directory, so nothing resolves against the current one by luck.
class ScopedCwd {
public:
    explicit ScopedCwd(const fs::path& dir) : m_old(fs::current_path()) { fs::current_path(dir); }
    ~ScopedCwd() { fs::current_path(m_old); }

private:
    fs::path m_old;
};

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

LoadOptions Opts(bool validate, const fs::path& base = {}) {
    return LoadOptions{validate, base.string(), {}};
}

bool LoadFile(XmlDocument& d, const fs::path& file, bool validate) {
    return d.loadXML(ReadText(file), Opts(validate, file));
}

std::optional<DomErrorCode> ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const DomError& e) {
        return e.code();
    }
    return std::nullopt;
}

Strings Names(const std::vector<XmlNode>& nodes) {
    Strings out;
    for (const XmlNode& n : nodes) {
        out.push_back(n.nodeType() == NodeType::Element ? n.nodeName() : n.nodeValue());
    }
    return out;
}

// The tree pane's items for a text, as one string.
std::string TreeOf(const std::string& text) {
    CollectingSink sink;
    CDoc doc(sink);
    doc.OnValidateNo();
    doc.ReplaceText(text);
    CTreeItems items;
    ReparseAndBuildTree(doc, items);
    EXPECT_TRUE(sink.messages.empty()) << text;
    return test_support::DescribeItems(items);
}

std::string Serialise(const std::string& text) {
    XmlDocument d;
    EXPECT_TRUE(d.loadXML(text, Opts(false))) << d.parseError().reason;
    return d.xml();
}

}  // namespace

TEST(XmlDomValidation, InternalSubsetDtd) {
    const std::string head = "<!DOCTYPE r [\n<!ELEMENT r (a*)>\n<!ELEMENT a EMPTY>\n]>\n";
    XmlDocument d;
    EXPECT_TRUE(d.loadXML(head + "<r><a/><a/></r>", Opts(true))) << d.parseError().reason;
    EXPECT_FALSE(d.loadXML(head + "<r><a/>\n<b/></r>", Opts(true)));
    EXPECT_EQ(d.parseError().line, 6);
    EXPECT_FALSE(d.documentElement());
    // Off: the same well-formed but invalid document loads.
    ASSERT_TRUE(d.loadXML(head + "<r><a/>\n<b/></r>", Opts(false))) << d.parseError().reason;
    EXPECT_EQ(d.documentElement().childNodes().size(), 2u);
}

TEST(XmlDomValidation, ExternalDtdResolvedAgainstTheDocument) {
    TempDir elsewhere;
    ScopedCwd cwd(elsewhere.path);
    XmlDocument d;
    EXPECT_TRUE(LoadFile(d, kData / "catalog.xml", true)) << d.parseError().reason;
    EXPECT_FALSE(LoadFile(d, kData / "catalog-invalid.xml", true));
    EXPECT_EQ(d.parseError().line, 5);
    // A folder whose name a URL must escape.
    TempDir spaced("quorrel dom ");
    fs::copy(kData / "catalog.dtd", spaced.path / "catalog.dtd");
    fs::path valid = spaced.write("catalog.xml", ReadText(kData / "catalog.xml"));
    fs::path invalid = spaced.write("catalog-invalid.xml", ReadText(kData / "catalog-invalid.xml"));
    EXPECT_TRUE(LoadFile(d, valid, true)) << d.parseError().reason;
    EXPECT_FALSE(LoadFile(d, invalid, true));
    EXPECT_EQ(d.parseError().line, 5) << d.parseError().reason;
    EXPECT_EQ(d.parseError().reason.find("[in "), std::string::npos) << d.parseError().reason;
    // Without a base the current directory is used, and it holds no DTD.
    EXPECT_FALSE(d.loadXML(ReadText(valid), Opts(true)));
    EXPECT_NE(d.parseError().reason.find("catalog.dtd"), std::string::npos)
        << d.parseError().reason;
}

TEST(XmlDomValidation, XmlSchemaNamedByTheDocument) {
    TempDir elsewhere;
    ScopedCwd cwd(elsewhere.path);
    XmlDocument d;
    EXPECT_TRUE(LoadFile(d, kData / "note.xml", true)) << d.parseError().reason;
    EXPECT_FALSE(LoadFile(d, kData / "note-invalid.xml", true));
    EXPECT_GT(d.parseError().line, 0);
    EXPECT_TRUE(LoadFile(d, kData / "order.xml", true)) << d.parseError().reason;
    EXPECT_FALSE(LoadFile(d, kData / "order-invalid.xml", true));
    EXPECT_TRUE(LoadFile(d, kData / "note-invalid.xml", false)) << d.parseError().reason;
    EXPECT_TRUE(LoadFile(d, kData / "order-invalid.xml", false)) << d.parseError().reason;

    TempDir spaced("quorrel xsd ");
    fs::copy(kData / "schemas", spaced.path / "schemas");
    for (std::string name : {"note", "order", "note-invalid", "order-invalid"}) {
        fs::path copy = spaced.write(name + ".xml", ReadText(kData / (name + ".xml")));
        EXPECT_EQ(LoadFile(d, copy, true), !name.ends_with("invalid"))
            << name << d.parseError().reason;
    }
}

TEST(XmlDomValidation, MissingDtdOrSchemaFailsNamingIt) {
    TempDir dir;
    const std::string xsi = "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
    struct Case {
        std::string text, missing;
    } cases[] = {
        {"<!DOCTYPE r SYSTEM \"absent.dtd\">\n<r/>", "absent.dtd"},
        {"<r " + xsi + " xsi:noNamespaceSchemaLocation=\"absent.xsd\"/>", "absent.xsd"},
        {"<r xmlns=\"urn:r\" " + xsi + " xsi:schemaLocation=\"urn:r gone.xsd\"/>", "gone.xsd"},
    };
    XmlDocument d;
    for (const Case& c : cases) {
        fs::path file = dir.write("doc.xml", c.text);
        EXPECT_FALSE(LoadFile(d, file, true)) << c.text;
        EXPECT_GT(d.parseError().line, 0);
        EXPECT_NE(d.parseError().reason.find(c.missing), std::string::npos)
            << d.parseError().reason;
    }
    // Not validating, a missing schema is never looked for.
    EXPECT_TRUE(LoadFile(d, dir.path / "doc.xml", false)) << d.parseError().reason;
    // Neither DTD nor schema: well-formedness alone decides.
    fs::path plain = dir.write("plain.xml", "<r><a/></r>");
    EXPECT_TRUE(LoadFile(d, plain, true)) << d.parseError().reason;
    fs::path broken = dir.write("broken.xml", "<r><a></r>");
    EXPECT_FALSE(LoadFile(d, broken, true));
}

TEST(XmlDomValidation, UnvalidatedLoadStillReadsTheExternalDtd) {
    TempDir elsewhere;
    ScopedCwd cwd(elsewhere.path);
    XmlDocument d;
    ASSERT_TRUE(LoadFile(d, kData / "catalog-invalid.xml", false)) << d.parseError().reason;
    std::vector<XmlNode> books = d.documentElement().getElementsByTagName("book");
    ASSERT_EQ(books.size(), 2u);
    std::vector<XmlNode> title = books[0].firstChild().childNodes();
    ASSERT_EQ(title.size(), 1u);
    EXPECT_EQ(title[0].nodeValue(), "Acme Books Guide");
    EXPECT_EQ(books[0].getAttribute("lang"), "en");
    EXPECT_TRUE(books[1].attributes().getNamedItem("lang"));
    ASSERT_TRUE(LoadFile(d, kData / "catalog.xml", false));
    EXPECT_EQ(d.documentElement().getElementsByTagName("book")[1].getAttribute("lang"), "fr");
}

TEST(XmlDomParse, ErrorsCarryTheirPosition) {
    XmlDocument d;
    ASSERT_TRUE(d.loadXML("<r/>"));
    EXPECT_FALSE(d.loadXML("<r>\n<a>\n</b>\n</r>\n", Opts(false)));
    EXPECT_EQ(d.parseError().line, 3);
    EXPECT_GT(d.parseError().column, 0);
    const std::string suffix = " (line 3, column " + std::to_string(d.parseError().column) + ")";
    EXPECT_TRUE(d.parseError().reason.ends_with(suffix)) << d.parseError().reason;
    EXPECT_GT(d.parseError().reason.size(), suffix.size());
    EXPECT_FALSE(d.documentElement());
    EXPECT_EQ(d.xml(), "");
    EXPECT_FALSE(d.loadXML("<r>\n<a>\n</b>\n</r>\n", Opts(false, "/tmp/a folder/doc.xml")));
    EXPECT_EQ(d.parseError().line, 3);
    EXPECT_EQ(d.parseError().reason.find("[in "), std::string::npos) << d.parseError().reason;
    // Warnings (relative namespace URI, redeclared entity) do not fail the load.
    EXPECT_TRUE(d.loadXML("<r xmlns=\"relative\"/>", Opts(true))) << d.parseError().reason;
    EXPECT_TRUE(d.loadXML(
        "<!DOCTYPE r [<!ELEMENT r (#PCDATA)><!ENTITY e \"1\"><!ENTITY e \"2\">]><r>&e;</r>",
        Opts(true)))
        << d.parseError().reason;
    EXPECT_EQ(d.parseError().line, 0);
    EXPECT_EQ(d.documentElement().firstChild().nodeValue(), "1");
}

TEST(XmlDomParse, HostileEntitiesFailQuickly) {
    std::string lolz = "<!DOCTYPE lolz [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        std::string prev = "&l" + std::to_string(i - 1) + ";";
        lolz += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) {
            lolz += prev;
        }
        lolz += "\">\n";
    }
    lolz += "]>\n<lolz>&l9;</lolz>";
    XmlDocument d;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(d.loadXML(lolz, Opts(false)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_GT(d.parseError().line, 0);

    TempDir dir("quorrel ent ");
    fs::create_directory(dir.path / "folder");
    struct Case {
        std::string system, says;
    } cases[] = {
        {"nothere.txt", "nothere.txt"}, {"folder", "directory"}, {"/dev/zero", "/dev/zero"}};
    for (const Case& c : cases) {
        fs::path file = dir.write(
            "ent.xml", "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + c.system + "\">]>\n<r>&e;</r>");
        EXPECT_FALSE(LoadFile(d, file, false)) << c.system;
        EXPECT_GT(d.parseError().line, 0);
        EXPECT_NE(d.parseError().reason.find(c.says), std::string::npos) << d.parseError().reason;
    }
    // The reason names the file as it is on disk.
    EXPECT_FALSE(d.loadXML("<!DOCTYPE r [<!ENTITY e SYSTEM \"nothere.txt\">]><r>&e;</r>",
                           Opts(false, dir.path / "doc.xml")));
    EXPECT_NE(d.parseError().reason.find((dir.path / "nothere.txt").string()), std::string::npos)
        << d.parseError().reason;
}

TEST(XmlDomParse, BlankTextDroppedOutsidePreserveScope) {
    XmlDocument d;
    ASSERT_TRUE(d.loadXML(
        "<r>\n  <a> \r\n\t</a>\n  <c> x </c><n>&#160;</n><k><![CDATA[ ]]></k>\n"
        "  <p xml:space=\"preserve\"> <b>\t</b>\n <d xml:space=\"default\"> <e/> </d></p>\n</r>",
        Opts(false)));
    XmlNode r = d.documentElement();
    EXPECT_EQ(Names(r.childNodes()), (Strings{"a", "c", "n", "k", "p"}));
    std::vector<XmlNode> kids = r.childNodes();
    EXPECT_FALSE(kids[0].hasChildNodes());
    EXPECT_EQ(Names(kids[1].childNodes()), (Strings{" x "}));
    EXPECT_EQ(Names(kids[2].childNodes()), (Strings{"\xC2\xA0"}));
    EXPECT_EQ(Names(kids[3].childNodes()), (Strings{" "}));
    EXPECT_EQ(Names(kids[4].childNodes()), (Strings{" ", "b", "\n ", "d"}));
    EXPECT_EQ(Names(kids[4].childNodes()[1].childNodes()), (Strings{"\t"}));
    EXPECT_EQ(Names(kids[4].lastChild().childNodes()), (Strings{"e"}));

    // Substituted entities leave one text node.
    ASSERT_TRUE(d.loadXML("<a>x&amp;y&#65;z</a>", Opts(false)));
    EXPECT_EQ(Names(d.documentElement().childNodes()), (Strings{"x&yAz"}));
    ASSERT_TRUE(d.loadXML("<!DOCTYPE a [<!ENTITY e \"-mid-\">]><a>x&e;y&e;</a>", Opts(false)));
    EXPECT_EQ(Names(d.documentElement().childNodes()), (Strings{"x-mid-y-mid-"}));
}

TEST(XmlDomTree, ChildChangesFollowW3C) {
    XmlDocument d;
    ASSERT_TRUE(d.loadXML("<r><a/><b/></r>"));
    XmlNode r = d.documentElement();
    XmlNode a = r.firstChild(), b = r.lastChild();

    XmlNode frag = d.createDocumentFragment();
    frag.appendChild(d.createElement("f1"));
    frag.appendChild(d.createElement("f2"));
    EXPECT_EQ(r.appendChild(frag), frag);
    EXPECT_EQ(Names(r.childNodes()), (Strings{"a", "b", "f1", "f2"}));
    EXPECT_FALSE(frag.hasChildNodes());

    XmlNode one = a.appendChild(d.createTextNode("one"));
    XmlNode two = a.appendChild(d.createTextNode("two"));
    XmlNode three = a.insertBefore(d.createTextNode("three"), two);
    EXPECT_EQ(Names(a.childNodes()), (Strings{"one", "three", "two"}));
    EXPECT_EQ(one.nodeValue(), "one");
    EXPECT_EQ(one.nextSibling(), three);

    XmlNode x = r.insertBefore(d.createElement("x"), b);
    EXPECT_EQ(Names(r.childNodes()), (Strings{"a", "x", "b", "f1", "f2"}));
    XmlNode y = d.createElement("y");
    EXPECT_EQ(r.replaceChild(y, x), x);
    EXPECT_EQ(Names(r.childNodes()), (Strings{"a", "y", "b", "f1", "f2"}));
    EXPECT_FALSE(x.parentNode());

    EXPECT_EQ(r.removeChild(b), b);
    EXPECT_FALSE(b.parentNode());
    b.setAttribute("k", "v");
    r.insertBefore(b, a);
    r.appendChild(a);  // moves, no copy
    EXPECT_EQ(Names(r.childNodes()), (Strings{"b", "y", "f1", "f2", "a"}));
    EXPECT_EQ(d.xml(),
              "<r>\n\t<b k=\"v\"/>\n\t<y/>\n\t<f1/>\n\t<f2/>\n\t<a>onethreetwo</a>\n</r>\n");
    x.appendChild(d.createElement("kept"));
    EXPECT_EQ(x.firstChild().nodeName(), "kept");

    EXPECT_EQ(ErrorOf([&] { a.appendChild(r); }), DomErrorCode::HierarchyRequest);
    EXPECT_EQ(ErrorOf([&] { a.appendChild(a); }), DomErrorCode::HierarchyRequest);
    EXPECT_EQ(ErrorOf([&] { d.documentNode().appendChild(d.createElement("second")); }),
              DomErrorCode::HierarchyRequest);
    EXPECT_EQ(ErrorOf([&] { d.documentNode().appendChild(d.createTextNode("t")); }),
              DomErrorCode::HierarchyRequest);
    EXPECT_EQ(ErrorOf([&] { r.removeChild(one); }), DomErrorCode::NotFound);
    EXPECT_EQ(ErrorOf([&] { r.insertBefore(d.createElement("z"), one); }), DomErrorCode::NotFound);
    EXPECT_EQ(Names(r.childNodes()), (Strings{"b", "y", "f1", "f2", "a"}));

    // The document element can be replaced, and stays when its replacement is refused.
    XmlNode n = d.createElement("n");
    EXPECT_EQ(d.documentNode().replaceChild(n, r), r);
    EXPECT_EQ(d.documentElement(), n);
    EXPECT_EQ(ErrorOf([&] { d.documentNode().replaceChild(d.createTextNode("t"), n); }),
              DomErrorCode::HierarchyRequest);
    EXPECT_EQ(d.documentElement(), n);
    EXPECT_EQ(ErrorOf([&] { a.replaceChild(r, one); }), DomErrorCode::HierarchyRequest);
    EXPECT_EQ(Names(a.childNodes()), (Strings{"one", "three", "two"}));
}

TEST(XmlDomTree, AttributeMapOrderAndErrors) {
    XmlDocument d;
    ASSERT_TRUE(
        d.loadXML("<r xmlns:p=\"urn:p\"><p:e b=\"1\" xmlns=\"urn:d\" p:q=\"2\" xmlns:x=\"urn:x\" "
                  "c=\"3\"><k/></p:e></r>"));
    XmlNode e = d.documentElement().firstChild();
    EXPECT_EQ(e.nodeName(), "p:e");
    XmlNamedNodeMap map = e.attributes();
    auto mapNames = [&] {
        Strings out;
        for (std::size_t i = 0; i < map.length(); ++i) {
            out.push_back(map.item(i).nodeName() + "=" + map.item(i).nodeValue());
        }
        return out;
    };
    EXPECT_EQ(mapNames(), (Strings{"xmlns=urn:d", "xmlns:x=urn:x", "b=1", "p:q=2", "c=3"}));
    EXPECT_FALSE(map.item(5));
    EXPECT_EQ(map.getNamedItem("p:q").nodeValue(), "2");
    EXPECT_FALSE(map.getNamedItem("absent"));

    XmlNode newB = d.createAttribute("b");
    newB.setValue("9");
    XmlNode oldB = map.setNamedItem(newB);
    EXPECT_EQ(oldB.nodeValue(), "1");
    XmlNode z = d.createAttribute("z");
    EXPECT_FALSE(map.setNamedItem(z));
    EXPECT_EQ(mapNames(), (Strings{"xmlns=urn:d", "xmlns:x=urn:x", "b=9", "p:q=2", "c=3", "z="}));

    EXPECT_EQ(ErrorOf([&] { map.removeNamedItem("absent"); }), DomErrorCode::NotFound);
    EXPECT_EQ(map.removeNamedItem("c").nodeValue(), "3");
    EXPECT_EQ(map.length(), 5u);
    // The replaced attribute can go on another element.
    d.documentElement().attributes().setNamedItem(oldB);
    EXPECT_EQ(d.documentElement().getAttribute("b"), "1");

    for (const char* bad : {"1x", "a b", "", "<"}) {
        EXPECT_EQ(ErrorOf([&] { d.createAttribute(bad); }), DomErrorCode::InvalidCharacter) << bad;
    }
    EXPECT_EQ(ErrorOf([&] { d.createElement("a b"); }), DomErrorCode::InvalidCharacter);

    XmlNode clone = e.cloneNode();
    EXPECT_EQ(clone.nodeName(), "p:e");
    EXPECT_FALSE(clone.hasChildNodes());
    EXPECT_FALSE(clone.parentNode());
    EXPECT_EQ(clone.attributes().length(), map.length());
    EXPECT_EQ(clone.getAttribute("p:q"), "2");
    clone.setAttribute("b", "changed");
    EXPECT_EQ(e.getAttribute("b"), "9");
    EXPECT_TRUE(e.hasChildNodes());
}

TEST(XmlDomTree, ProcessingInstructionsAndElementLists) {
    XmlDocument d;
    ASSERT_TRUE(d.loadXML("<r><a i=\"1\"><a i=\"2\"/></a><b><a i=\"3\"/></b></r>"));
    XmlNode r = d.documentElement();
    std::vector<XmlNode> as = r.getElementsByTagName("a");
    ASSERT_EQ(as.size(), 3u);
    EXPECT_EQ(as[0].getAttribute("i") + as[1].getAttribute("i") + as[2].getAttribute("i"), "123");
    EXPECT_EQ(Names(r.getElementsByTagName("*")), (Strings{"a", "a", "b", "a"}));
    EXPECT_EQ(d.documentNode().getElementsByTagName("r").size(), 1u);
    // The list is not live: a removed element stays in it, still usable.
    r.removeChild(r.lastChild());
    EXPECT_EQ(as[2].getAttribute("i"), "3");
    EXPECT_FALSE(as[2].parentNode().parentNode());
    EXPECT_EQ(r.getElementsByTagName("a").size(), 2u);

    XmlNode pi = d.createProcessingInstruction("xml", "version = \"1.0\"");
    EXPECT_EQ(pi.nodeName(), "xml");
    EXPECT_EQ(pi.nodeValue(), "version = \"1.0\"");
    r.firstChild().appendChild(pi);
    r.appendChild(d.createProcessingInstruction("go", ""));
    EXPECT_EQ(d.xml(),
              "<r>\n\t<a i=\"1\">\n\t\t<a i=\"2\"/>\n\t\t<?xml version = "
              "\"1.0\"?>\n\t</a>\n\t<?go?>\n</r>\n");
    EXPECT_EQ(ErrorOf([&] { d.createProcessingInstruction("a b", ""); }),
              DomErrorCode::InvalidCharacter);
}

TEST(XmlDomSelect, StepsCountSameNamedSiblings) {
    XmlDocument d;
    ASSERT_TRUE(d.loadXML("<r><a id=\"1\"/><b/><a id=\"2\"><c/></a></r>"));
    auto one = [&](std::string_view path) -> XmlNode {
        auto found = d.selectNodes(path);
        EXPECT_TRUE(found && found->size() == 1) << path;
        return found && found->size() == 1 ? found->front() : XmlNode();
    };
    EXPECT_EQ(one("/r[0]"), d.documentElement());
    EXPECT_EQ(one("/r[0]/a[1]").getAttribute("id"), "2");
    EXPECT_EQ(one("/r[0]/a[0]").getAttribute("id"), "1");
    EXPECT_EQ(one("/r[0]/b[0]").nodeName(), "b");
    EXPECT_EQ(one("/r[0]/a[1]/c[0]").nodeName(), "c");
    for (const char* none : {"/r[0]/a[2]", "/r[1]", "/x[0]", "/r[0]/c[0]", "/r[0]/a[0]/c[0]"}) {
        auto found = d.selectNodes(none);
        ASSERT_TRUE(found.has_value()) << none;
        EXPECT_TRUE(found->empty()) << none;
    }
    for (const char* bad : {"a[0]", "/a", "/a[x]", "/a[01]", "/a[0]b", "", "/r[0]/", "/[0]",
                            "/a[-1]", "/a[]", "/a[0]]", "r[0]/a[0]"}) {
        EXPECT_FALSE(d.selectNodes(bad).has_value()) << bad;
    }
}

TEST(XmlDomSerialise, LayoutDeclarationAndEscapes) {
    EXPECT_EQ(Serialise("<a x=\"1\"><b y=\"2\">t</b><c/></a>"),
              "<a x=\"1\">\n\t<b y=\"2\">t</b>\n\t<c/>\n</a>\n");
    EXPECT_EQ(Serialise("<a>\n <b>\n  <c/>\n </b>\n</a>"), "<a>\n\t<b>\n\t\t<c/>\n\t</b>\n</a>\n");
    EXPECT_EQ(Serialise("<a><b>x<c> <d/> </c></b></a>"), "<a>\n\t<b>x<c><d/></c></b>\n</a>\n");
    EXPECT_EQ(Serialise("<a><b><![CDATA[x]]><c/></b></a>"),
              "<a>\n\t<b><![CDATA[x]]><c/></b>\n</a>\n");
    EXPECT_EQ(Serialise("<a xml:space=\"preserve\"><b><c/></b></a>"),
              "<a xml:space=\"preserve\"><b><c/></b></a>\n");
    EXPECT_EQ(Serialise("<a/>"), "<a/>\n");
    EXPECT_EQ(Serialise("<?xml version=\"1.0\"?><a/>"), "<?xml version=\"1.0\"?>\n<a/>\n");
    // The declaration stays as written: quotes, pseudo-attributes, blanks.
    EXPECT_EQ(Serialise("<?xml version='1.0' encoding='iso-8859-1' standalone='yes'?><a/>"),
              "<?xml version='1.0' encoding='iso-8859-1' standalone='yes'?>\n<a/>\n");
    EXPECT_EQ(Serialise("<?xml  version=\"1.0\" standalone=\"no\" ?><a/>"),
              "<?xml  version=\"1.0\" standalone=\"no\" ?>\n<a/>\n");
    EXPECT_EQ(Serialise("<!--c--><?p d?><a/><!--t--><?q?>"),
              "<!--c-->\n<?p d?>\n<a/>\n<!--t-->\n<?q?>\n");
    EXPECT_EQ(Serialise("<a b=\"&amp;&lt;&gt;&quot;'&#9;&#10;&#13;\">&amp;&lt;&gt;\"'&#13;</a>"),
              "<a b=\"&amp;&lt;>&quot;'&#9;&#10;&#13;\">&amp;&lt;&gt;\"'&#13;</a>\n");

    XmlDocument d;
    ASSERT_TRUE(d.loadXML(ReadText(kData / "catalog.xml"), Opts(false, kData / "catalog.xml")));
    EXPECT_TRUE(d.xml().starts_with(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE catalog SYSTEM \"catalog.dtd\">\n<catalog>\n\t<book "))
        << d.xml();
    std::string pub = "<!DOCTYPE catalog PUBLIC \"-//Quorrel//Test//EN\" \"catalog.dtd\">";
    ASSERT_TRUE(d.loadXML(pub + "<catalog><book id=\"b\"><title/></book></catalog>",
                          Opts(false, kData / "x.xml")))
        << d.parseError().reason;
    EXPECT_TRUE(d.xml().starts_with(pub + "\n<catalog>")) << d.xml();
    ASSERT_TRUE(d.loadXML("<!DOCTYPE a [<!ENTITY e \"v\">]><a>&e;</a>", Opts(false)));
    std::string withSubset = d.xml();
    EXPECT_TRUE(withSubset.starts_with("<!DOCTYPE a [")) << withSubset;
    EXPECT_NE(withSubset.find("<!ENTITY e \"v\">"), std::string::npos) << withSubset;
    EXPECT_TRUE(withSubset.ends_with("]>\n<a>v</a>\n")) << withSubset;

    // Nodes made through the DOM.
    ASSERT_TRUE(d.loadXML("<r><e/><f/></r>"));
    XmlNode r = d.documentElement();
    r.firstChild().appendChild(d.createTextNode(""));
    r.lastChild().appendChild(d.createTextNode(""));
    r.lastChild().appendChild(d.createElement("g"));
    r.lastChild().appendChild(d.createTextNode(""));
    EXPECT_EQ(d.xml(), "<r>\n\t<e/>\n\t<f>\n\t\t<g/>\n\t</f>\n</r>\n");
    r.appendChild(d.createCDATASection("a]]>b"));
    r.setAttribute("v", "a&b<c\"d\te\nf\rg>h");
    r.appendChild(d.createTextNode("1 & 2 < 3 > 0\r"));
    const std::string out = d.xml();
    EXPECT_EQ(out,
              "<r v=\"a&amp;b&lt;c&quot;d&#9;e&#10;f&#13;g>h\"><e/><f><g/></f>"
              "<![CDATA[a]]]]><![CDATA[>b]]>1 &amp; 2 &lt; 3 &gt; 0&#13;</r>\n");
    ASSERT_TRUE(d.loadXML(out));
    EXPECT_EQ(d.documentElement().getAttribute("v"), "a&b<c\"d\te\nf\rg>h");
    std::string text;
    for (XmlNode c : d.documentElement().childNodes()) {
        text += c.nodeValue();
    }
    EXPECT_EQ(text, "a]]>b1 & 2 < 3 > 0\r");
}

TEST(XmlDomSerialise, RoundTripReachesFixpoint) {
    const std::vector<std::string> documents = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<o:order xmlns:o=\"urn:o\" xmlns=\"urn:d\">"
        "<o:item n=\"1\">x</o:item><line a=\"1&amp;2\"><sub xmlns:q=\"urn:q\" q:k=\"v\"/></line>"
        "</o:order>",
        "<p>Some <b>bold</b> and <i>it<u>al</u></i> text.<br/></p>",
        "<?xml-stylesheet href=\"s.css\" type=\"text/css\"?>\n<!-- top -->\n<r><!-- inner -->"
        "<?proc data?><a><!--x--></a></r><!-- end -->",
        "<r><code><![CDATA[if (a < b && c]]]]><![CDATA[>d) {}]]></code><x/><y><![CDATA[]]></y></r>",
        "<!DOCTYPE r [\n<!ELEMENT r ANY>\n<!ENTITY co \"Quorrel and Co\">\n"
        "<!ENTITY sig \"<s>signed</s>\">\n]>\n<r>&co;<x>&sig;</x><y>&sig;</y></r>",
        "<r><pre xml:space=\"preserve\">  a\n  <b> </b>\n<c xml:space=\"default\"> <d/> </c></pre>"
        "<q>\t<z/>\n</q></r>",
        "<r a=\"x&#9;y&#10;z\" b=\"&lt;&quot;&gt;'\">a&#13;b<s t=\"\"/></r>",
    };
    for (const std::string& text : documents) {
        XmlDocument d;
        ASSERT_TRUE(d.loadXML(text, Opts(false))) << text << "\n" << d.parseError().reason;
        const std::string first = d.xml();
        ASSERT_TRUE(d.loadXML(first, Opts(false))) << first << "\n" << d.parseError().reason;
        EXPECT_EQ(d.xml(), first) << text;
        EXPECT_EQ(TreeOf(first), TreeOf(text)) << text;
    }
}
