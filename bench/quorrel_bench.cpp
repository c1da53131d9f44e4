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
#include <iterator>
#include <string>
#include <vector>

#include "bench/BenchDocuments.h"
#include "bench/BenchTable.h"
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

void Print(const std::string& operation, double megabytes, const Result& r, double reference,
           const std::string& referenceName = "xmlReadMemory", bool rate = true) {
    PrintRow(operation, megabytes, r.seconds, rate, double(r.peakKb) / 1024.0, reference,
             referenceName);
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const CTreeItem* FindItem(const CTreeItem* item, const std::string& label, int selectedImage) {
    std::vector<const CTreeItem*> pending{item};
    while (!pending.empty()) {
        const CTreeItem* i = pending.back();
        pending.pop_back();
        if (i->label() == label && i->selectedImage() == selectedImage) {
            return i;
        }
        for (const CTreeItem& child : i->children()) {
            pending.push_back(&child);
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
                current = CurrentItemOf(item);
            },
            [&] {
                if (RunTreeCommand(*doc, items, current, c.command, c.inputs, sink) !=
                    CommandOutcome::Done) {
                    std::fprintf(stderr, "%s did not run\n",
                                 std::string(TreeCommandName(c.command)).c_str());
                }
            },
            true);
        Print("tree command " + std::string(TreeCommandName(c.command)) + " + refresh", mb, r,
              bareMedian, "xmlReadMemory", false);
    }
}

void BenchSize(std::size_t bytes, const std::filesystem::path& folder, bool commands) {
    std::filesystem::path file =
        folder / ("quorrel-bench-" + std::to_string(bytes >> 20) + "mb.xml");
    double mb = 0;
    {
        // Written and freed before any child forks, so no child's peak holds it.
        std::string generated = GenerateDocument(bytes);
        mb = double(generated.size()) / (1024.0 * 1024.0);
        std::ofstream(file, std::ios::binary) << generated;
    }

    std::string text;
    Result bare = Measure([&] { text = ReadFile(file); },
                          [&] {
                              xmlDocPtr d =
                                  xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, 0);
                              xmlFreeDoc(d);
                          });
    double bareMedian = MedianOf(bare.seconds);
    Print("libxml2 xmlReadMemory (reference)", mb, bare, 0);

    Result lint = Measure([] {},
                          [&] {
                              std::string command = "xmllint --noout '" + file.string() + "'";
                              if (std::system(command.c_str()) != 0) {
                                  std::fprintf(stderr, "xmllint failed\n");
                              }
                          });
    // The child's peak does not include xmllint's own.
    PrintRow("xmllint --noout (outside tool)", mb, lint.seconds, true, 0, bareMedian,
             "xmlReadMemory");

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
                                  ExpandBranches(items, items.GetRootItem());
                              });
    Print("open + tree items", mb, openTree, bareMedian);

    xmlDocPtr referenceDoc = nullptr;
    Result dump = Measure(
        [&] {
            std::string bytes = ReadFile(file);
            referenceDoc = xmlReadMemory(bytes.data(), int(bytes.size()), nullptr, nullptr, 0);
        },
        [&] {
            xmlChar* out = nullptr;
            int size = 0;
            xmlDocDumpMemory(referenceDoc, &out, &size);
            xmlFree(out);
        });
    double dumpMedian = MedianOf(dump.seconds);
    Print("libxml2 xmlDocDumpMemory (reference)", mb, dump, 0);
    std::unique_ptr<CDoc> loaded;
    Result serialise = Measure(
        [&] {
            loaded = std::make_unique<CDoc>(sink);
            loaded->OnOpenDocument(file.string());
        },
        [&] {
            std::string out = loaded->Dom().xml();
            if (out.empty()) {
                std::fprintf(stderr, "empty serialisation\n");
            }
        });
    Print("serialise the DOM", mb, serialise, dumpMedian, "xmlDocDumpMemory");
    if (commands) {
        BenchTreeCommands(file, mb, bareMedian);
    }
    std::filesystem::remove(file);
}

}  // namespace

int main(int argc, char** argv) {
    // Arguments: sizes in MB; --commands MB also times every tree command at that size.
    std::vector<double> sizes;
    double commandsAt = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--commands" && i + 1 < argc) {
            commandsAt = std::atof(argv[++i]);
        } else {
            sizes.push_back(std::atof(argv[i]));
        }
    }
    if (sizes.empty()) {
        sizes = {1, 10};
    }
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (double s : sizes) {
        BenchSize(std::size_t(s * (1 << 20)), folder, s == commandsAt);
    }
    return 0;
}
