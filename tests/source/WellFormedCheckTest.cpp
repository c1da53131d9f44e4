#include "views/source/core/WellFormedCheck.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

using namespace quorrel;
using Status = WellFormedResult::Status;

namespace {

std::atomic<int> g_loads{0};

xmlParserInputPtr CountingLoader(const char*, const char*, xmlParserCtxtPtr) {
    ++g_loads;
    return nullptr;
}

// Replaces the process's entity loader for one test, as the document's parser
// installs its own: the check must never reach it.
class LoaderWatch {
public:
    LoaderWatch() : m_previous(xmlGetExternalEntityLoader()) {
        g_loads = 0;
        xmlSetExternalEntityLoader(CountingLoader);
    }
    ~LoaderWatch() { xmlSetExternalEntityLoader(m_previous); }

private:
    xmlExternalEntityLoader m_previous;
};

// A file that would not parse, should anything read it.
class BadFile {
public:
    explicit BadFile(const std::string& name)
        : m_path(std::filesystem::temp_directory_path() /
                 (name + "-" + std::to_string(::getpid()))) {
        std::ofstream(m_path) << "<!ELEMENT <unclosed";
    }
    ~BadFile() { std::filesystem::remove(m_path); }
    std::string Path() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

}  // namespace

TEST(WellFormedCheck, WellFormedDocumentsOfEveryKind) {
    for (const char* text : {
             "<r/>",
             "<?xml version=\"1.0\"?>\n<r a='1' b=\"2\">t<!-- c --><![CDATA[<x>]]><?p q?></r>\n",
             "<!DOCTYPE r [\n<!ENTITY e \"<i>x</i>\">\n<!ELEMENT r ANY>\n]>\n<r>&e;&amp;&#233;</r>",
             "<p:r xmlns:p=\"urn:p\"><p:a/></p:r>",
             "\xEF\xBB\xBF<r>caf\xC3\xA9</r>",
             // The declared encoding is not the text's: the text is UTF-8 whatever it says.
             "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xC3\xA9</r>",
             "<?xml version=\"1.0\" encoding=\"bogus\"?><r/>",
         }) {
        const WellFormedResult result = CheckWellFormed(text);
        EXPECT_EQ(result.status, Status::WellFormed) << text << ": " << result.reason;
    }
}

TEST(WellFormedCheck, FirstErrorWithLineAndCharacterColumn) {
    WellFormedResult result = CheckWellFormed("<r>\n  <a>\n  </b>\n</r>\n");
    EXPECT_EQ(result.status, Status::Error);
    EXPECT_EQ(result.line, 3);
    EXPECT_EQ(result.column, 7);  // just after "</b>"
    EXPECT_EQ(result.reason, "Opening and ending tag mismatch: a line 2 and b");

    // Of several errors the first is kept, not the parser's last.
    result = CheckWellFormed("<r>\n<a x='1' x='2'/>\n</q>\n&u;");
    EXPECT_EQ(result.line, 2);
    EXPECT_EQ(result.reason, "Attribute x redefined");

    // Columns count characters, not bytes.
    result = CheckWellFormed("<r>\xC3\xA9\xC3\xA9</b>");
    EXPECT_EQ(result.column, 10);

    // Lines beyond 65,535 keep their numbers.
    result = CheckWellFormed("<r>" + std::string(70000, '\n') + "</x>");
    EXPECT_EQ(result.line, 70001);

    result = CheckWellFormed("");
    EXPECT_EQ(result.status, Status::Error);
    EXPECT_EQ(result.reason, "Document is empty");
    EXPECT_EQ(CheckWellFormed("<r>\n<a>").reason, "Premature end of data in tag a line 2");
    EXPECT_EQ(CheckWellFormed("<r>&u;</r>").reason, "Entity 'u' not defined");
    EXPECT_EQ(CheckWellFormed("<r><p:q/></r>").reason, "Namespace prefix p on q is not defined");
    EXPECT_EQ(CheckWellFormed("<r/><s/>").status, Status::Error);
}

TEST(WellFormedCheck, LimitsAsTheDocumentsParserHasThem) {
    std::string deep;
    for (int i = 0; i < 300; ++i) {
        deep += "<a>";
    }
    WellFormedResult result = CheckWellFormed(deep);
    EXPECT_EQ(result.status, Status::Error);
    EXPECT_EQ(result.reason,
              "Excessive depth in document: elements are nested more than 256 levels deep");

    std::string crowded = "<r>\n<e";
    for (int i = 0; i < 10001; ++i) {
        crowded += " a" + std::to_string(i) + "=''";
    }
    result = CheckWellFormed(crowded + "/></r>");
    EXPECT_EQ(result.status, Status::Error);
    EXPECT_EQ(result.line, 2);
    EXPECT_NE(result.reason.find("more than 10000 attributes"), std::string::npos);
}

TEST(WellFormedCheck, ReadsNothingOutsideTheText) {
    BadFile dtd("quorrel-check.dtd"), entity("quorrel-check.xml");
    LoaderWatch watch;
    const std::string d = dtd.Path(), x = entity.Path();
    // External DTD, parameter and general entities, XInclude, a stylesheet, http.
    for (const std::string& text : std::vector<std::string>{
             "<!DOCTYPE r SYSTEM \"" + d + "\"><r>&nbsp;</r>",
             "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/r.dtd\"><r/>",
             "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + d + "\"> %p; ]><r>&declaredInP;</r>",
             "<!DOCTYPE r [<!ENTITY e SYSTEM \"file://" + x + "\">]><r>&e;</r>",
             "<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + x + "\"/></r>",
             "<?xml-stylesheet href=\"" + x + "\"?><r/>",
         }) {
        const WellFormedResult result = CheckWellFormed(text);
        EXPECT_EQ(result.status, Status::WellFormed) << text << ": " << result.reason;
    }
    // An external entity in an attribute value is an error of the text itself.
    WellFormedResult result =
        CheckWellFormed("<!DOCTYPE r [<!ENTITY e SYSTEM \"" + x + "\">]><r a='&e;'/>");
    EXPECT_EQ(result.reason, "Attribute references external entity 'e'");
    // Without a DTD or parameter entity that could declare it, an entity is undeclared.
    result = CheckWellFormed("<!DOCTYPE r [<!ELEMENT r ANY>]><r>&nbsp;</r>");
    EXPECT_EQ(result.reason, "Entity 'nbsp' not defined");
    EXPECT_EQ(g_loads, 0);
}

TEST(WellFormedCheck, StopsWhenAsked) {
    std::string text = "<r>";
    for (int i = 0; i < 1000; ++i) {
        text += "<a>t</a>";
    }
    text += "</q>";  // an error the check never reaches
    int polls = 0;
    WellFormedResult result = CheckWellFormed(text, [&polls] { return ++polls == 20; });
    EXPECT_EQ(result.status, Status::Stopped);
    EXPECT_TRUE(result.reason.empty());
    EXPECT_EQ(polls, 20);  // the parser stopped at once
    polls = 0;
    EXPECT_EQ(CheckWellFormed(text, [&polls] { return ++polls > 0; }).status, Status::Stopped);
    EXPECT_EQ(polls, 1);
    EXPECT_EQ(CheckWellFormed(text, [] { return false; }).status, Status::Error);
}

namespace {

// A check the test holds until it is told to stop, to be sure of what runs when.
struct HeldCheck {
    std::promise<void> began;
    std::atomic<bool> sawStop{false};

    WellFormedChecker::Check Function() {
        return [this](std::string_view text, const std::function<bool()>& stop) {
            if (text != "held") {
                return CheckWellFormed(text, stop);
            }
            began.set_value();
            while (!stop()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            sawStop = true;
            return WellFormedResult{Status::Error, 1, 1, "stale"};
        };
    }
};

struct Delivered {
    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, WellFormedResult>> results;
    std::vector<std::thread::id> threads;
    std::promise<void> got;

    WellFormedChecker::Deliver Function() {
        return [this](std::uint64_t ticket, const WellFormedResult& result) {
            std::lock_guard lock(mutex);
            results.emplace_back(ticket, result);
            threads.push_back(std::this_thread::get_id());
            got.set_value();
        };
    }
};

}  // namespace

TEST(WellFormedChecker, NewTextStopsTheCheckUnderWayAndDropsItsResult) {
    HeldCheck held;
    Delivered delivered;
    auto got = delivered.got.get_future();
    {
        WellFormedChecker checker(delivered.Function(), held.Function());
        checker.Start("held", 1);
        held.began.get_future().wait();
        checker.Start("<r>\n</s>", 2);
        got.wait();
    }
    EXPECT_TRUE(held.sawStop);
    ASSERT_EQ(delivered.results.size(), 1u);
    EXPECT_EQ(delivered.results[0].first, 2u);
    EXPECT_EQ(delivered.results[0].second.status, Status::Error);
    EXPECT_EQ(delivered.results[0].second.line, 2);
    EXPECT_NE(delivered.threads[0], std::this_thread::get_id());
}

TEST(WellFormedChecker, HandsBackTheLastTextsMemory) {
    Delivered delivered;
    auto got = delivered.got.get_future();
    WellFormedChecker checker(delivered.Function());
    EXPECT_EQ(checker.TakeBuffer().capacity(), std::string().capacity());
    std::string text = "<r>" + std::string(100000, 'x') + "</r>";
    checker.Start(text, 1);
    got.wait();
    // Delivered after the text was given back.
    std::string buffer = checker.TakeBuffer();
    EXPECT_TRUE(buffer.empty());
    EXPECT_GE(buffer.capacity(), text.size());
    EXPECT_EQ(checker.TakeBuffer().capacity(), std::string().capacity());
}

TEST(WellFormedChecker, CancelAndDestructionStopTheCheck) {
    HeldCheck held;
    Delivered delivered;
    auto got = delivered.got.get_future();
    {
        WellFormedChecker checker(delivered.Function(), held.Function());
        checker.Start("held", 1);
        held.began.get_future().wait();
        checker.Cancel();
        checker.Start("<r/>", 3);
        got.wait();
    }
    EXPECT_TRUE(held.sawStop);
    ASSERT_EQ(delivered.results.size(), 1u);
    EXPECT_EQ(delivered.results[0].first, 3u);
    EXPECT_EQ(delivered.results[0].second.status, Status::WellFormed);

    // Destroyed while a check runs: the check is stopped and nothing is delivered.
    HeldCheck running;
    Delivered none;
    {
        WellFormedChecker checker(none.Function(), running.Function());
        checker.Start("held", 4);
        running.began.get_future().wait();
    }
    EXPECT_TRUE(running.sawStop);
    EXPECT_TRUE(none.results.empty());
}
