// Open from URL against servers that misbehave: bodies past the size limit,
// connections cut short, answers that are not HTTP or not XML, compression
// bombs and redirects out of the network. Each must end in a message that
// says what is wrong, with the open document as it was.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/UrlFetch.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ScopedEnv.h"

using namespace quorrel;
using namespace quorrel::hostile;
using quorrel::test::HttpResponse;
using quorrel::test::LoopbackHttpServer;
using quorrel::test::ScopedEnv;

namespace {

const fs::path kNote = fs::path(QUORREL_TEST_DATA) / "fetch" / "notes" / "note.xml";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = char(random() & 0xFF);
    }
    return bytes;
}

HttpResponse Ok(std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
    return HttpResponse{200, "OK", std::move(body), std::move(headers)};
}

// A document opened from a file and edited, so that any change shows.
struct EditedDocument {
    CollectingSink sink;
    CDoc doc{sink};
    std::string text;
    const XmlDocument* dom = nullptr;

    EditedDocument() {
        doc.OnOpenDocument(kNote.string());
        doc.OnTextChanged(doc.Text() + "<!-- typed -->");
        doc.SetModifiedFlag(true);
        text = doc.Text();
        dom = doc.HasDom() ? &doc.Dom() : nullptr;
    }
    // Opens url, expects it refused with result and a message holding each of parts.
    void ExpectRefused(const std::string& url, UrlOpenResult result,
                       const std::vector<std::string>& parts) {
        SCOPED_TRACE(url);
        sink.messages.clear();
        EXPECT_EQ(doc.OnOpenUrl(url), result);
        ASSERT_EQ(sink.messages.size(), 1u);
        const std::string& message = sink.messages[0];
        EXPECT_TRUE(message.starts_with(result == UrlOpenResult::NotFetched
                                            ? "Could not open the URL:\n"
                                            : "XML DOM Parse Error:\n"))
            << message;
        for (const std::string& part : parts) {
            EXPECT_TRUE(Contains(message, part)) << message;
        }
        EXPECT_EQ(doc.Text(), text);
        EXPECT_EQ(doc.HasDom() ? &doc.Dom() : nullptr, dom);
        EXPECT_EQ(doc.GetPathName(), kNote.string());
        EXPECT_TRUE(doc.IsModified());
        EXPECT_EQ(doc.SourceUrl(), "");
    }
};

class HostileUrl : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("no_proxy", "127.0.0.1", 1);
        ::setenv("NO_PROXY", "127.0.0.1", 1);
    }
    LoopbackHttpServer server;
    EditedDocument edited;
    // A server that stalls must fail the test, not hang it.
    ScopedEnv guard{"QUORREL_TRANSFER_TIMEOUT_MS", "30000"};
};

}  // namespace

TEST_F(HostileUrl, TheSizeLimitAndItsOverride) {
    EXPECT_EQ(FetchOptions().maxBytes, 256ULL * 1024 * 1024);
    EXPECT_EQ(FetchOptions::FromEnvironment().maxBytes, 256ULL * 1024 * 1024);
    for (const char* unusable :
         {"", "0", "-5", "12abc", " 12", "2147483648", "99999999999999999999"}) {
        ScopedEnv limit("QUORREL_MAX_DOCUMENT_BYTES", unusable);
        EXPECT_EQ(MaxDocumentBytes(), kMaxDocumentBytes) << unusable;
    }
    ScopedEnv limit("QUORREL_MAX_DOCUMENT_BYTES", "2048");
    EXPECT_EQ(MaxDocumentBytes(), 2048u);
    EXPECT_EQ(FetchOptions::FromEnvironment().maxBytes, 2048u);

    // A Content-Length past the real limit is refused before any body is read:
    // the server sends a few bytes and then stalls.
    {
        ScopedEnv unset("QUORREL_MAX_DOCUMENT_BYTES", "");
        server.RouteRaw("/announced.xml", "HTTP/1.1 200 OK\r\nContent-Length: 268435457\r\n\r\n<r>",
                        true);
        edited.ExpectRefused(server.Url("/announced.xml"), UrlOpenResult::NotFetched,
                             {server.Url("/announced.xml"), "is larger than 256 MB."});
    }
}

TEST_F(HostileUrl, BodiesPastTheLimit) {
    ScopedEnv limit("QUORREL_MAX_DOCUMENT_BYTES", "4096");
    const std::string tooLarge = "is larger than 4096 bytes.";
    auto document = [](std::size_t size) { return "<r>" + std::string(size - 7, 'a') + "</r>"; };

    // Exactly at the limit opens; one byte more does not.
    server.Route("/at-limit.xml", Ok(document(4096)));
    CollectingSink sink;
    CDoc doc(sink);
    EXPECT_EQ(doc.OnOpenUrl(server.Url("/at-limit.xml")), UrlOpenResult::Opened);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(doc.Text().size(), 4096u + 1);  // the serialisation ends in a line end
    server.Route("/past-limit.xml", Ok(document(4097)));
    edited.ExpectRefused(server.Url("/past-limit.xml"), UrlOpenResult::NotFetched,
                         {server.Url("/past-limit.xml"), tooLarge});

    server.RouteRaw("/announced.xml", "HTTP/1.1 200 OK\r\nContent-Length: 4097\r\n\r\n<r>", true);
    edited.ExpectRefused(server.Url("/announced.xml"), UrlOpenResult::NotFetched, {tooLarge});

    // No length announced: a chunked body that would go on for a gigabyte is cut off.
    server.RouteChunked("/endless.xml", std::string(1024, 'a'), 1024 * 1024);
    edited.ExpectRefused(server.Url("/endless.xml"), UrlOpenResult::NotFetched, {tooLarge});

    // The DTD of a fetched document is held to the same limit.
    server.Route("/big-dtd.xml", Ok("<!DOCTYPE r SYSTEM \"big.dtd\"><r/>"));
    server.Route("/big.dtd", Ok("<!-- " + std::string(5000, '-') + " -->"));
    edited.ExpectRefused(server.Url("/big-dtd.xml"), UrlOpenResult::ParseError,
                         {server.Url("/big.dtd"), tooLarge});
}

TEST_F(HostileUrl, ConnectionsCutShort) {
    const std::string head = "HTTP/1.1 200 OK\r\n";
    server.RouteRaw("/short.xml", head + "Content-Length: 1000\r\n\r\n<r>" + std::string(100, 'a'));
    const std::string brokeOff = "The connection broke off before the whole of ";
    edited.ExpectRefused(server.Url("/short.xml"), UrlOpenResult::NotFetched,
                         {brokeOff + server.Url("/short.xml"), "897 bytes remaining"});

    server.RouteRaw("/short-chunked.xml",
                    head + "Transfer-Encoding: chunked\r\n\r\n5\r\n<r>ab\r\n");
    edited.ExpectRefused(server.Url("/short-chunked.xml"), UrlOpenResult::NotFetched,
                         {brokeOff + server.Url("/short-chunked.xml")});

    server.RouteRaw("/short-head.xml", "HTTP/1.1 200 OK\r\nContent-Ty");
    edited.ExpectRefused(server.Url("/short-head.xml"), UrlOpenResult::NotFetched,
                         {brokeOff + server.Url("/short-head.xml"), "within its header"});

    server.RouteRaw("/nothing.xml", "");
    edited.ExpectRefused(server.Url("/nothing.xml"), UrlOpenResult::NotFetched,
                         {server.Url("/nothing.xml"), "closed the connection without answering"});
}

TEST_F(HostileUrl, AnswersThatAreNotHttp) {
    const std::pair<const char*, std::string> answers[] = {
        {"/random.xml", RandomBytes(4096, 1)},
        {"/ssh.xml", "SSH-2.0-OpenSSH_9.2\r\n"},
        // Well-formed XML without a status line must not pass for a document.
        {"/bare.xml", "<note><to>Tove</to></note>\n"},
        {"/bad-status.xml", "HTTP/1.1 abc\r\nContent-Length: 4\r\n\r\n<r/>"},
        {"/bad-length.xml", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n<r/>"},
    };
    for (const auto& [path, bytes] : answers) {
        server.RouteRaw(path, bytes);
        edited.ExpectRefused(server.Url(path), UrlOpenResult::NotFetched,
                             {"The server at " + server.Url(path) + " did not answer in HTTP"});
    }
    // A header without end.
    std::string flood = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 40000; ++i) {
        flood += "X-Filler-" + std::to_string(i) + ": " + std::string(40, 'x') + "\r\n";
    }
    server.RouteRaw("/header-flood.xml", flood);
    edited.ExpectRefused(server.Url("/header-flood.xml"), UrlOpenResult::NotFetched,
                         {"The answer from " + server.Url("/header-flood.xml") +
                          " could not be read (Too large response headers"});
    // A length no 64-bit number holds.
    server.RouteRaw("/huge-length.xml",
                    "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n<r/>");
    edited.ExpectRefused(server.Url("/huge-length.xml"), UrlOpenResult::NotFetched,
                         {server.Url("/huge-length.xml"), "is larger than 256 MB."});
}

TEST_F(HostileUrl, BodiesThatAreNotXml) {
    const std::pair<const char*, std::string> bodies[] = {
        {"/random.xml", RandomBytes(65536, 2)},
        {"/nul.xml", std::string(1000, '\0')},
        {"/utf16-garbage.xml", "\xFE\xFF" + RandomBytes(4095, 3)},
        {"/utf16-odd.xml", std::string("\xFF\xFE<\0r\0/\0>", 9)},
        {"/half-declaration.xml", "<?xml version=\"1.0\" encoding=\"" + RandomBytes(200, 4)},
    };
    for (const auto& [path, body] : bodies) {
        server.Route(path, Ok(body));
        edited.ExpectRefused(server.Url(path), UrlOpenResult::ParseError, {});
    }
}

TEST_F(HostileUrl, CompressedBodies) {
    ScopedEnv limit("QUORREL_MAX_DOCUMENT_BYTES", "1048576");
    // Decoding is on, so the limit counts the bytes as they come out of it.
    const std::string note = "<note><to>Tove</to></note>";
    server.Route("/gzip.xml", Ok(Compress(note, 1), {{"Content-Encoding", "gzip"}}));
    CollectingSink sink;
    CDoc doc(sink);
    EXPECT_EQ(doc.OnOpenUrl(server.Url("/gzip.xml")), UrlOpenResult::Opened);
    EXPECT_TRUE(Contains(doc.Text(), "<to>Tove</to>")) << doc.Text();

    // 64 MB of text in 64 KB of gzip, deflate, or gzip twice over.
    const std::string text(65536, 'a');
    const std::string bomb = Compress(text, 1024);
    ASSERT_LT(bomb.size(), 100'000u);
    server.Route("/bomb.xml", Ok(bomb, {{"Content-Encoding", "gzip"}}));
    server.Route("/deflate-bomb.xml",
                 Ok(Compress(text, 1024, 15), {{"Content-Encoding", "deflate"}}));
    server.Route("/double-bomb.xml", Ok(Compress(bomb, 1), {{"Content-Encoding", "gzip, gzip"}}));
    server.RouteChunked("/chunked-bomb.xml", bomb, 1, {{"Content-Encoding", "gzip"}});
    for (const char* path :
         {"/bomb.xml", "/deflate-bomb.xml", "/double-bomb.xml", "/chunked-bomb.xml"}) {
        edited.ExpectRefused(server.Url(path), UrlOpenResult::NotFetched,
                             {server.Url(path), "is larger than 1 MB."});
    }

    // Announced as gzip but not gzip.
    server.Route("/not-gzip.xml", Ok(note, {{"Content-Encoding", "gzip"}}));
    edited.ExpectRefused(server.Url("/not-gzip.xml"), UrlOpenResult::NotFetched,
                         {server.Url("/not-gzip.xml"), "could not be decompressed"});
    // gzip bytes not announced as such are not a document.
    server.Route("/plain-gzip.xml", Ok(Compress(note, 1)));
    edited.ExpectRefused(server.Url("/plain-gzip.xml"), UrlOpenResult::ParseError, {});
}

TEST_F(HostileUrl, RedirectsStayOnTheNetwork) {
    const std::string local = "file://" + kNote.string();
    const std::string notHttp = ", which is not an http or https URL.";
    server.RouteRedirect("/to-file.xml", local);
    edited.ExpectRefused(
        server.Url("/to-file.xml"), UrlOpenResult::NotFetched,
        {"A redirect from " + server.Url("/to-file.xml") + " leads to " + local + notHttp});
    server.RouteRedirect("/to-ftp.xml", "ftp://127.0.0.1/note.xml");
    edited.ExpectRefused(server.Url("/to-ftp.xml"), UrlOpenResult::NotFetched,
                         {"leads to ftp://127.0.0.1/note.xml" + notHttp});
    edited.ExpectRefused(local, UrlOpenResult::NotFetched,
                         {"Only http and https URLs can be opened, not " + local + "."});
    EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/to-file.xml", "/to-ftp.xml"}));

    server.RouteRedirect("/loop.xml", "/loop.xml");
    edited.ExpectRefused(server.Url("/loop.xml"), UrlOpenResult::NotFetched,
                         {"Maximum (20) redirects followed"});
}
