// Load + tree items + serialisation speed on generated documents, beside a
// bare libxml2 parse, xmlDocDumpMemory and `xmllint --noout` of the same
// bytes. Each measurement runs in a child process so its peak memory is its own.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchDocuments.h"
#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "edit/core/TreeCommands.h"
#include "views/tree/core/TreeItems.h"

namespace {

using namespace quorrel;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;

struct Result {
    std::vector<double> seconds;
    long peakKb = 0;
};

// Runs op kRuns times in a child; returns the timings and the child's peak memory.
Result Measure(const std::function<void()>& setup, const std::function<void()>& op,
               bool setupEachRun = false) {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        double times[kRuns];
        for (int run = 0; run < kRuns; ++run) {
            if (run == 0 || setupEachRun) {
                setup();
            }
            double& t = times[run];
            auto start = Clock::now();
            op();
            t = std::chrono::duration<double>(Clock::now() - start).count();
        }
        ssize_t written = write(fds[1], times, sizeof times);
        _exit(written == sizeof times ? 0 : 1);
    }
    close(fds[1]);
    Result r;
    double times[kRuns];
    ssize_t got = read(fds[0], times, sizeof times);
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (got == sizeof times) {
        r.seconds.assign(times, times + kRuns);
    }
    r.peakKb = usage.ru_maxrss;
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void Print(const std::string& operation, double megabytes, const Result& r, double reference) {
    if (r.seconds.empty()) {
        std::printf("%-38s %6.1f MB  failed\n", operation.c_str(), megabytes);
        return;
    }
    double median = Median(r.seconds);
    auto [lo, hi] = std::minmax_element(r.seconds.begin(), r.seconds.end());
    std::printf("%-38s %6.1f MB  median %8.4f s  (min %.4f, max %.4f)  %8.1f MB/s  peak %7.1f MB",
                operation.c_str(), megabytes, median, *lo, *hi, megabytes / median,
                double(r.peakKb) / 1024.0);
    if (reference > 0) {
        std::printf("  %.2f x reference", median / reference);
    }
    std::printf("\n");
}

const CTreeItem* FindItem(const CTreeItem* item, const std::string& label, int selectedImage) {
    std::vector<const CTreeItem*> pending{item};
    while (!pending.empty()) {
        const CTreeItem* i = pending.back();
        pending.pop_back();
        if (i->label == label && i->selectedImage == selectedImage) {
            return i;
        }
        for (auto it = i->children.rbegin(); it != i->children.rend(); ++it) {
            pending.push_back(it->get());
        }
    }
    return nullptr;
}

// Each tree command, with its refresh, on every occurrence where it has the choice.
void BenchTreeCommands(const std::filesystem::path& file, double mb, double bareMedian) {
    struct Case {
        TreeCommand command;
        std::string label;
        int selectedImage;
        CommandInputs inputs;
    };
    const std::vector<Case> cases = {
        {TreeCommand::AddAttribute,
         "item",
         IMG_ELEMENT_PARENT_OPEN,
         {false, "checked", "yes", true}},
        {TreeCommand::AddChildElement,
         "item",
         IMG_ELEMENT_PARENT_OPEN,
         {false, "tag", "new", true}},
        {TreeCommand::AddTextNode, "item", IMG_ELEMENT_PARENT_OPEN, {false, "", " more", true}},
        {TreeCommand::RenameElement, "item", IMG_ELEMENT_PARENT_OPEN, {false, "line", "", true}},
        {TreeCommand::DeleteElementAndChildren, "b", IMG_ELEMENT_LEAF, {}},
        {TreeCommand::DeleteElementOnly, "b", IMG_ELEMENT_LEAF, {false, "", "", true}},
        {TreeCommand::ElementToAttribute, "b", IMG_ELEMENT_LEAF, {false, "", "", true}},
        {TreeCommand::DuplicateElementSubTree, "order", IMG_ELEMENT_PARENT_OPEN, {}},
        {TreeCommand::ChangeAttributeName,
         "qty = \" 1 \"",
         IMG_ATTRIBUTE,
         {false, "quantity", "", true}},
        {TreeCommand::ChangeAttributeValue, "qty = \" 1 \"", IMG_ATTRIBUTE, {false, "", "2", true}},
        {TreeCommand::DeleteAttribute, "qty = \" 1 \"", IMG_ATTRIBUTE, {false, "", "", true}},
        {TreeCommand::AttributeToElement, "qty = \" 1 \"", IMG_ATTRIBUTE, {false, "", "", true}},
        {TreeCommand::ChangeTextValue, "blue", IMG_TEXT, {false, "", "red", true}},
        {TreeCommand::DeleteTextNode, "blue", IMG_TEXT, {false, "", "", true}},
    };
    for (const Case& c : cases) {
        CollectingSink sink;
        auto doc = std::make_unique<CDoc>(sink);
        CTreeItems items;
        CurrentItem current;
        Result r = Measure(
            [&] {
                doc = std::make_unique<CDoc>(sink);
                doc->OnOpenDocument(file.string());
                items.DeleteAllItems();
                BuildTreeFromDom(*doc, items);
                const CTreeItem* item = FindItem(items.GetRootItem(), c.label, c.selectedImage);
                current = item ? CurrentItem{item, item->label, item->image, item->selectedImage}
                               : CurrentItem{};
            },
            [&] {
                if (RunTreeCommand(*doc, items, current, c.command, c.inputs, sink) !=
                    CommandOutcome::Done) {
                    std::fprintf(stderr, "%s did not run\n",
                                 std::string(TreeCommandName(c.command)).c_str());
                }
            },
            true);
        Print("command " + std::string(TreeCommandName(c.command)), mb, r, bareMedian);
    }
}

void BenchSize(std::size_t bytes, const std::filesystem::path& folder, bool commands) {
    std::string text = GenerateDocument(bytes);
    double mb = double(text.size()) / (1024.0 * 1024.0);
    std::filesystem::path file = folder / ("bench-" + std::to_string(bytes >> 20) + "mb.xml");
    std::ofstream(file, std::ios::binary) << text;

    Result bare = Measure([] {},
                          [&] {
                              xmlDocPtr d =
                                  xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, 0);
                              xmlFreeDoc(d);
                          });
    double bareMedian = Median(bare.seconds);
    Print("libxml2 xmlReadMemory (reference)", mb, bare, 0);

    Result lint = Measure([] {},
                          [&] {
                              std::string command = "xmllint --noout '" + file.string() + "'";
                              if (std::system(command.c_str()) != 0) {
                                  std::fprintf(stderr, "xmllint failed\n");
                              }
                          });
    Print("xmllint --noout", mb, lint, bareMedian);

    CollectingSink sink;
    Result open = Measure([] {},
                          [&] {
                              CDoc doc(sink);
                              doc.OnOpenDocument(file.string());
                          });
    Print("open (read, decode, parse, validate)", mb, open, bareMedian);

    Result openTree = Measure([] {},
                              [&] {
                                  CDoc doc(sink);
                                  doc.OnOpenDocument(file.string());
                                  CTreeItems items;
                                  BuildTreeFromDom(doc, items);
                                  ExpandBranches(items.GetRootItem());
                              });
    Print("open + tree items", mb, openTree, bareMedian);

    CDoc loaded(sink);
    xmlDocPtr referenceDoc = nullptr;
    Result dump = Measure(
        [&] { referenceDoc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, 0); },
        [&] {
            xmlChar* out = nullptr;
            int size = 0;
            xmlDocDumpMemory(referenceDoc, &out, &size);
            xmlFree(out);
        });
    double dumpMedian = Median(dump.seconds);
    Print("libxml2 xmlDocDumpMemory (reference)", mb, dump, 0);
    Result serialise = Measure([&] { loaded.OnOpenDocument(file.string()); },
                               [&] {
                                   std::string out = loaded.m_pDomDoc->xml();
                                   if (out.empty()) {
                                       std::fprintf(stderr, "empty serialisation\n");
                                   }
                               });
    Print("serialise (xml of the document)", mb, serialise, dumpMedian);
    if (commands) {
        BenchTreeCommands(file, mb, bareMedian);
    }
    std::filesystem::remove(file);
}

}  // namespace

int main(int argc, char** argv) {
    // Arguments: sizes in MB; --commands also times every tree command.
    std::vector<std::size_t> sizes;
    bool commands = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--commands") {
            commands = true;
        } else {
            sizes.push_back(std::size_t(std::atof(argv[i]) * (1 << 20)));
        }
    }
    if (sizes.empty()) {
        sizes = {1u << 20, 10u << 20};
    }
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    std::printf("%d runs each; ratios are to the libxml2 reference of the same size.\n", kRuns);
    for (std::size_t s : sizes) {
        BenchSize(s, folder, commands);
    }
    return 0;
}
