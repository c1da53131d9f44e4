// XPath evaluation on a parsed document beside xmllint --xpath of the same
// file, in the same run. Ours is timed from the parsed DOM (the document the
// window holds is parsed already): compile, evaluate and the rows' values.
// xmllint's time is its whole run, its own parse included, which is also
// given alone (xmllint --noout) so the two can be set side by side.
//
// Usage: quorrel-xpath-bench [SIZE_MB...]   (default 10 100)
#include <libxml/xpath.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchDocuments.h"
#include "doc/core/XPath.h"
#include "doc/core/XmlDom.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The wall time of a command, its output thrown away.
double Run(const std::vector<std::string>& argv) {
    std::fflush(stdout);  // or the child writes what is buffered once more
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return Seconds(start);
}

// libxml2's evaluation alone on the same DOM, without our rows.
double LibxmlAlone(quorrel::XmlDocument& dom, const std::string& expression) {
    xmlDocPtr doc = static_cast<xmlDocPtr>(dom.documentNode().raw());
    auto start = Clock::now();
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    xmlXPathObjectPtr value =
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression.c_str()), context);
    double seconds = Seconds(start);
    xmlXPathFreeObject(value);
    xmlXPathFreeContext(context);
    return seconds;
}

std::string Ms(double s) {
    char out[32];
    std::snprintf(out, sizeof out, s < 10 ? "%.1f ms" : "%.0f ms", s * 1000);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::atof(argv[i]));
    }
    if (sizes.empty()) {
        sizes = {10, 100};
    }
    constexpr int kRuns = 3;
    std::printf(
        "| Size | Expression | Result | ours (from the DOM) | libxml2 alone (same DOM) | "
        "xmllint --xpath | xmllint --noout |\n|---|---|---|---|---|---|---|\n");
    for (double mb : sizes) {
        const std::string text = quorrel::GenerateDocument(std::size_t(mb * 1e6));
        const std::filesystem::path file =
            std::filesystem::temp_directory_path() /
            ("quorrel-xpath-bench-" + std::to_string(getpid()) + ".xml");
        std::ofstream(file, std::ios::binary) << text;
        quorrel::XmlDocument dom;
        quorrel::LoadOptions options;
        options.validateOnParse = false;
        dom.loadXML(text, options);
        // An order in the middle of the document.
        std::size_t orders = 0;
        for (std::size_t at = text.find("<order "); at != std::string::npos;
             at = text.find("<order ", at + 1)) {
            ++orders;
        }
        const std::string middle = "o" + std::to_string(orders / 2);
        const std::string expressions[] = {"//order[@id=\"" + middle + "\"]", "count(//item)",
                                           "//text()[contains(., \"x\")]"};
        std::vector<double> parse;
        for (int r = 0; r < kRuns; ++r) {
            parse.push_back(Run({"xmllint", "--noout", file.string()}));
        }
        for (const std::string& e : expressions) {
            std::vector<double> ours, alone, theirs;
            std::string value;
            for (int r = 0; r < kRuns; ++r) {
                auto start = Clock::now();
                quorrel::XPathOutcome out = quorrel::EvaluateXPath(dom, text, {e, {}});
                ours.push_back(Seconds(start));
                value = out.result.isNodeSet() ? std::to_string(out.result.size()) + " nodes"
                                               : out.result.string();
                alone.push_back(LibxmlAlone(dom, e));
                theirs.push_back(Run({"xmllint", "--xpath", e, file.string()}));
            }
            std::printf("| %.0f MB | `%s` | %s | %s | %s | %s | %s |\n", mb, e.c_str(),
                        value.c_str(), Ms(Median(ours)).c_str(), Ms(Median(alone)).c_str(),
                        Ms(Median(theirs)).c_str(), Ms(Median(parse)).c_str());
            std::fflush(stdout);
        }
        std::filesystem::remove(file);
    }
    return 0;
}
