// Fetching over http from a server of the test's own on 127.0.0.1, and
// Open from URL in the document.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/UrlFetch.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ScopedEnv.h"

using namespace quorrel;
using quorrel::test::HttpResponse;
using quorrel::test::LoopbackHttpServer;
using quorrel::test::ScopedEnv;
using quorrel::test::UniqueFd;
namespace fs = std::filesystem;

namespace {

const fs::path kFetchData = fs::path(QUORREL_TEST_DATA) / "fetch";
constexpr int kCleared = -1;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int Count(const std::vector<std::string>& items, const std::string& item) {
    return int(std::count(items.begin(), items.end(), item));
}

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

class RecordingView : public CDocView {
public:
    void OnUpdate(CDocView* sender) override { senders.push_back(sender); }
    std::vector<CDocView*> senders;
};

// The progress positions in order; kCleared for each Clear.
struct ProgressLog {
    std::vector<int> steps;
    UrlProgress Sink() {
        return {[this](int pos) { steps.push_back(pos); }, [this] { steps.push_back(kCleared); }};
    }
};

class UrlFetch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A proxy from the environment must not stand between the tests and their server.
        ::setenv("no_proxy", "127.0.0.1", 1);
        ::setenv("NO_PROXY", "127.0.0.1", 1);
    }
    void SetUp() override { server.ServeFolder(kFetchData.string()); }

    LoopbackHttpServer server;
};

// A document with a state of its own, to see that a failed fetch leaves it alone.
struct OpenedDocument {
    CollectingSink sink;
    CDoc doc{sink};
    RecordingView view;
    fs::path path = kFetchData / "notes" / "note.xml";
    std::string text;
    const XmlDocument* dom = nullptr;

    OpenedDocument() {
        doc.AddView(&view);
        doc.OnOpenDocument(path.string());
        doc.OnTextChanged(doc.Text() + "<!-- typed -->");
        doc.SetModifiedFlag(false);
        text = doc.Text();
        dom = doc.HasDom() ? &doc.Dom() : nullptr;
    }
    void ExpectUnchanged() const {
        EXPECT_EQ(doc.Text(), text);
        EXPECT_EQ(doc.HasDom() ? &doc.Dom() : nullptr, dom);
        EXPECT_EQ(doc.GetPathName(), path.string());
        EXPECT_FALSE(doc.IsModified());
        EXPECT_EQ(doc.SourceUrl(), "");
        EXPECT_TRUE(view.senders.empty());
    }
};

}  // namespace

TEST_F(UrlFetch, FetchAnswersRedirectsAndRefusals) {
    FetchResult ok = FetchUrl(server.Url("/notes/note.dtd"));
    EXPECT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, ReadFile(kFetchData / "notes" / "note.dtd"));
    EXPECT_EQ(ok.effectiveUrl, server.Url("/notes/note.dtd"));

    server.RouteRedirect("/moved", "/notes/note.xml", 301);
    FetchResult moved = FetchUrl(server.Url("/moved"));
    EXPECT_TRUE(moved.ok) << moved.error;
    EXPECT_EQ(moved.effectiveUrl, server.Url("/notes/note.xml"));
    EXPECT_EQ(moved.body, ReadFile(kFetchData / "notes" / "note.xml"));

    FetchResult missing = FetchUrl(server.Url("/nowhere.xml"));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.status, 404);
    EXPECT_TRUE(missing.body.empty());
    EXPECT_EQ(missing.error,
              "The server answered 404 Not Found for " + server.Url("/nowhere.xml") + ".");

    server.Route("/broken", HttpResponse{500, "Internal Server Error", "<oops/>", {}});
    FetchResult broken = FetchUrl(server.Url("/broken"));
    EXPECT_FALSE(broken.ok);
    EXPECT_TRUE(Contains(broken.error, "500 Internal Server Error")) << broken.error;

    // A redirect may not lead to a local file.
    server.RouteRedirect("/to-file", "file://" + (kFetchData / "notes" / "note.dtd").string());
    FetchResult toFile = FetchUrl(server.Url("/to-file"));
    EXPECT_FALSE(toFile.ok);
    EXPECT_TRUE(toFile.body.empty());

    FetchResult file = FetchUrl("file://" + (kFetchData / "notes" / "note.dtd").string());
    EXPECT_FALSE(file.ok);
    EXPECT_TRUE(file.body.empty());
    EXPECT_FALSE(file.error.empty());

    int port = ClosedPort();
    FetchResult refused = FetchUrl("http://127.0.0.1:" + std::to_string(port) + "/note.xml");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.status, 0);
    EXPECT_TRUE(Contains(refused.error, std::to_string(port))) << refused.error;
}

TEST_F(UrlFetch, LimitsTimeOutsAndCancel) {
    FetchOptions small;
    small.maxBytes = 10;
    FetchResult tooLarge = FetchUrl(server.Url("/notes/note.xml"), small);
    EXPECT_FALSE(tooLarge.ok);
    EXPECT_EQ(tooLarge.error,
              "The document at " + server.Url("/notes/note.xml") + " is larger than 10 bytes.");

    FetchOptions defaults = FetchOptions::FromEnvironment();
    EXPECT_EQ(defaults.connectTimeout, std::chrono::seconds(10));
    EXPECT_EQ(defaults.totalTimeout, std::chrono::seconds(60));
    {
        ScopedEnv connect("QUORREL_CONNECT_TIMEOUT_MS", "250");
        ScopedEnv total("QUORREL_TRANSFER_TIMEOUT_MS", "not a number");
        FetchOptions fromEnv = FetchOptions::FromEnvironment();
        EXPECT_EQ(fromEnv.connectTimeout, std::chrono::milliseconds(250));
        EXPECT_EQ(fromEnv.totalTimeout, std::chrono::seconds(60));
    }

    // A server that accepts and never answers.
    LoopbackHttpServer silent(LoopbackHttpServer::Mode::Silent);
    FetchOptions quick;
    quick.totalTimeout = std::chrono::milliseconds(300);
    FetchResult timedOut = FetchUrl(silent.Url("/note.xml"), quick);
    EXPECT_FALSE(timedOut.ok);
    EXPECT_FALSE(timedOut.cancelled);
    EXPECT_TRUE(Contains(timedOut.error, "timed out")) << timedOut.error;
    EXPECT_EQ(silent.Connections(), 1);

    std::atomic<bool> cancel{true};
    FetchOptions cancelled;
    cancelled.cancel = &cancel;
    FetchResult stopped = FetchUrl(silent.Url("/note.xml"), cancelled);
    EXPECT_FALSE(stopped.ok);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.error, "The transfer was cancelled.");
}

TEST_F(UrlFetch, OpenPutsTheFetchedDocumentInPlace) {
    OpenedDocument opened;
    CDoc& doc = opened.doc;
    ProgressLog log;
    const std::string url = server.Url("/notes/note.xml");
    EXPECT_EQ(doc.OnOpenUrl(url, log.Sink()), UrlOpenResult::Opened);

    EXPECT_TRUE(opened.sink.messages.empty());
    EXPECT_EQ(log.steps, (std::vector<int>{15, 30, 45, 60, kCleared}));
    EXPECT_EQ(doc.Text(), ReadFile(kFetchData / "notes" / "note.xml"));
    ASSERT_TRUE(doc.HasDom());
    EXPECT_EQ(doc.Dom().documentElement().nodeName(), "note");
    EXPECT_EQ(doc.GetPathName(), (fs::current_path() / "Quorrel.xml").string());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_FALSE(doc.IsTextChanged());
    EXPECT_EQ(doc.LastUrl(), url);
    EXPECT_EQ(doc.SourceUrl(), url);
    EXPECT_EQ(opened.view.senders, std::vector<CDocView*>{nullptr});
    // The DTD beside it was fetched for validation.
    EXPECT_EQ(Count(server.Requests(), "/notes/note.dtd"), 1);

    // Parsing again still finds the DTD on the server, not in the current directory.
    EXPECT_TRUE(doc.ReparseDocument());
    EXPECT_EQ(Count(server.Requests(), "/notes/note.dtd"), 2);
    EXPECT_TRUE(opened.sink.messages.empty());

    // Opened after a redirect, relative names resolve where the document really is.
    server.RouteRedirect("/latest", "/notes/note.xml");
    EXPECT_EQ(doc.OnOpenUrl(server.Url("/latest")), UrlOpenResult::Opened);
    EXPECT_EQ(doc.LastUrl(), server.Url("/latest"));
    EXPECT_EQ(doc.SourceUrl(), url);
    EXPECT_EQ(Count(server.Requests(), "/notes/note.dtd"), 3);

    // The text is the parser's serialisation, decoded from the declared encoding.
    server.Route(
        "/latin1.xml",
        HttpResponse{200,
                     "OK",
                     "<?xml version='1.0' encoding='ISO-8859-1'?><r  a='caf\xe9'>\xe9t\xe9</r>",
                     {}});
    EXPECT_EQ(doc.OnOpenUrl(server.Url("/latin1.xml")), UrlOpenResult::Opened);
    EXPECT_EQ(
        doc.Text(),
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r a=\"caf\u00e9\">\u00e9t\u00e9</r>\n");

    doc.OnNewDocument();
    EXPECT_EQ(doc.SourceUrl(), "");
}

TEST_F(UrlFetch, ValidationSwitchDecidesOnTheDtd) {
    const std::string url = server.Url("/notes/note-invalid.xml");
    OpenedDocument opened;
    ProgressLog log;
    EXPECT_EQ(opened.doc.OnOpenUrl(url, log.Sink()), UrlOpenResult::ParseError);
    ASSERT_EQ(opened.sink.messages.size(), 1u);
    const std::string& message = opened.sink.messages[0];
    EXPECT_TRUE(message.starts_with("XML DOM Parse Error:\n")) << message;
    EXPECT_TRUE(Contains(message, "body")) << message;
    EXPECT_TRUE(
        message.ends_with("\nHint:\n Turn the DTD/Schema validation button - V - on the toolbar "
                          "off.\n Then try to open this URL again."))
        << message;
    EXPECT_EQ(log.steps, (std::vector<int>{15, kCleared}));
    opened.ExpectUnchanged();

    opened.doc.OnValidateNo();
    EXPECT_EQ(opened.doc.OnOpenUrl(url), UrlOpenResult::Opened);
    EXPECT_EQ(opened.sink.messages.size(), 1u);
    EXPECT_TRUE(Contains(opened.doc.Text(), "<body>Remember</body>"));
}

TEST_F(UrlFetch, FailuresLeaveTheDocumentAsItWas) {
    OpenedDocument opened;
    CDoc& doc = opened.doc;
    auto expectMessage = [&](const std::string& start, const std::string& part) {
        ASSERT_EQ(opened.sink.messages.size(), 1u);
        const std::string message = opened.sink.messages[0];
        opened.sink.messages.clear();
        EXPECT_TRUE(message.starts_with(start)) << message;
        EXPECT_TRUE(Contains(message, part)) << message;
    };

    ProgressLog log;
    const std::string missing = server.Url("/notes/none.xml");
    EXPECT_EQ(doc.OnOpenUrl(missing, log.Sink()), UrlOpenResult::NotFetched);
    expectMessage("Could not open the URL:\n", "404 Not Found");
    EXPECT_EQ(log.steps, (std::vector<int>{15, kCleared}));
    EXPECT_EQ(doc.LastUrl(), missing);  // offered again next time
    opened.ExpectUnchanged();

    EXPECT_EQ(doc.OnOpenUrl("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/"),
              UrlOpenResult::NotFetched);
    expectMessage("Could not open the URL:\n", "127.0.0.1");
    opened.ExpectUnchanged();

    EXPECT_EQ(doc.OnOpenUrl(server.Url("/notes/malformed.xml")), UrlOpenResult::ParseError);
    expectMessage("XML DOM Parse Error:\n", "\n Then try to open this URL again.");
    opened.ExpectUnchanged();

    // A DTD the server does not have.
    EXPECT_EQ(doc.OnOpenUrl(server.Url("/notes/missing-dtd.xml")), UrlOpenResult::ParseError);
    expectMessage("XML DOM Parse Error:\n", "404 Not Found");
    opened.ExpectUnchanged();

    {
        ScopedEnv quick("QUORREL_TRANSFER_TIMEOUT_MS", "300");
        LoopbackHttpServer silent(LoopbackHttpServer::Mode::Silent);
        EXPECT_EQ(doc.OnOpenUrl(silent.Url("/note.xml")), UrlOpenResult::NotFetched);
        expectMessage("Could not open the URL:\n", "timed out");
        opened.ExpectUnchanged();
    }

    // Cancelled: no message at all.
    UrlRequest request = doc.BeginOpenUrl(server.Url("/notes/note.xml"));
    std::atomic<bool> cancel{true};
    request.fetch.cancel = &cancel;
    EXPECT_EQ(doc.FinishOpenUrl(CDoc::LoadUrlDocument(request)), UrlOpenResult::Cancelled);
    EXPECT_TRUE(opened.sink.messages.empty());
    opened.ExpectUnchanged();
}

TEST_F(UrlFetch, FetchedDocumentsNeverReadLocalFiles) {
    const fs::path localDtd = kFetchData / "notes" / "note.dtd";
    ASSERT_TRUE(fs::exists(localDtd));
    const std::string body = "<note><to>Tove</to><from>Jani</from></note>\n";
    server.Route(
        "/file-url.xml",
        HttpResponse{
            200, "OK", "<!DOCTYPE note SYSTEM \"file://" + localDtd.string() + "\">\n" + body, {}});
    server.Route(
        "/local-path.xml",
        HttpResponse{
            200, "OK", "<!DOCTYPE note SYSTEM \"" + localDtd.string() + "\">\n" + body, {}});
    server.Route("/entity.xml",
                 HttpResponse{200,
                              "OK",
                              "<!DOCTYPE note [<!ENTITY who SYSTEM \"file://" + localDtd.string() +
                                  "\">]>\n<note><to>&who;</to><from>Jani</from></note>\n",
                              {}});
    server.Route(
        "/drive.xml",
        HttpResponse{200, "OK", "<!DOCTYPE note SYSTEM \"C:/dtd/note.dtd\">\n" + body, {}});
    for (bool validate : {true, false}) {
        for (const char* path : {"/file-url.xml", "/entity.xml", "/drive.xml"}) {
            SCOPED_TRACE(std::string(path) + (validate ? " validating" : " not validating"));
            CollectingSink sink;
            CDoc doc(sink);
            if (!validate) {
                doc.OnValidateNo();
            }
            // Without validation a DTD that is not read leaves the document
            // to open without it; an entity of the content never does.
            bool opens = !validate && std::string_view(path) != "/entity.xml";
            EXPECT_EQ(doc.OnOpenUrl(server.Url(path)),
                      opens ? UrlOpenResult::Opened : UrlOpenResult::ParseError);
            ASSERT_EQ(sink.messages.size(), 1u);
            EXPECT_TRUE(Contains(sink.messages[0], "a document from a URL cannot read local files"))
                << sink.messages[0];
            EXPECT_EQ(doc.Text().empty(), !opens);
        }
    }
    // A path alone is relative to the document's URL, so it names a file on the server.
    CollectingSink sink;
    CDoc doc(sink);
    EXPECT_EQ(doc.OnOpenUrl(server.Url("/local-path.xml")), UrlOpenResult::ParseError);
    EXPECT_EQ(Count(server.Requests(), localDtd.string()), 1);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_TRUE(Contains(sink.messages[0], "404 Not Found")) << sink.messages[0];
}
