// The XML files this machine's packages install (SVG icons, policies, D-Bus
// and font configuration, feeds, schemas, catalogs...): every one that
// xmllint reads must open, save back byte for byte, and come through a
// rename to its own name and a value set to itself with the same tree and
// the same namespace-qualified names. QUORREL_CORPUS_EVERY=N takes every
// Nth file only (the sanitizer run does).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/hostile/HostileSupport.h"
#include "tests/support/TestEditor.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

extern char** environ;

using namespace quorrel;
using namespace quorrel::test_support;
namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kLargestFile = 4 << 20;

bool LooksLikeXml(const fs::path& path) {
    static const std::set<std::string> kExtensions = {
        ".xml", ".svg",   ".xsd", ".policy", ".rss",  ".xsl", ".xslt",  ".xhtml",
        ".ui",  ".plist", ".kml", ".gpx",    ".xbel", ".rdf", ".glade", ".dtdxml"};
    std::string ext = path.extension().string();
    if (kExtensions.contains(ext)) {
        return true;
    }
    if (ext != ".conf") {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    char head[5] = {};
    in.read(head, 5);
    return std::string_view(head, 5) == "<?xml";
}

std::vector<fs::path> SystemXmlFiles() {
    std::vector<fs::path> files;
    for (const char* root : {"/usr/share", "/etc"}) {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            ec),
            end;
        for (; it != end; it.increment(ec)) {
            if (ec) {
                break;
            }
            const fs::directory_entry& entry = *it;
            if (entry.is_symlink(ec) || !entry.is_regular_file(ec)) {
                continue;
            }
            if (entry.file_size(ec) <= kLargestFile && LooksLikeXml(entry.path())) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The tool a user would check a file with, run as they would run it.
bool XmllintAccepts(const fs::path& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string file = path.string();
    char* argv[] = {const_cast<char*>("xmllint"), const_cast<char*>("--noout"),
                    const_cast<char*>("--nonet"), file.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "xmllint", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot run xmllint: " << std::strerror(rc);
        return false;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Shape(const Editor& e) {
    std::string tree = e.Tree();
    std::erase(tree, '+');
    return tree;
}

// Elements and attributes in document order, each with its namespace.
std::string QualifiedNames(XmlDocument* dom) {
    std::string out;
    if (dom == nullptr) {
        return out;
    }
    std::vector<XmlNode> pending{dom->documentElement()};
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
            out += " @{" + a.namespaceURI() + "}" + a.localName() + "=" + a.nodeValue() + "\n";
        }
        std::vector<XmlNode> children = n.childNodes();
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return out;
}

// The first item in document order that the predicate accepts, as a dot path.
template <class Accept>
std::string FirstItem(const CTreeItem* item, const std::string& path, Accept&& accept) {
    for (std::size_t i = 0; i < item->children().size(); ++i) {
        const CTreeItem* child = &item->children()[i];
        std::string childPath = path.empty() ? std::to_string(i) : path + "." + std::to_string(i);
        if (accept(*child)) {
            return childPath;
        }
        if (std::string found = FirstItem(child, childPath, accept); !found.empty()) {
            return found;
        }
    }
    return {};
}

std::string ValueOfLabel(std::string_view label) {
    std::size_t open = label.find(" = \" ");
    return open == std::string_view::npos
               ? std::string()
               : std::string(label.substr(open + 5, label.size() - open - 7));
}

struct Tally {
    int files = 0, wellFormed = 0, opened = 0, savedSame = 0, renamed = 0, valueSet = 0;
    std::vector<std::string> failures;
    void Fail(const fs::path& file, const std::string& what) {
        failures.push_back(file.string() + ": " + what);
    }
};

// A command that changes nothing in meaning must leave the tree and every
// name and namespace as they were.
void ExpectNoChange(Tally& tally, const fs::path& file, const std::string& file_text,
                    const std::string& item, TreeCommand command, const CommandInputs& inputs,
                    int& count) {
    Editor e(Editor::FromFile{}, file_text, false);
    std::string shape = Shape(e), names = QualifiedNames(e.doc.m_pDomDoc.get());
    CommandOutcome outcome = e.Run(item, command, inputs);
    std::string what = std::string(TreeCommandName(command)) + " on item " + item;
    if (outcome != CommandOutcome::Done) {
        tally.Fail(file, what + " failed: " +
                             (e.sink.messages.empty() ? std::string() : e.sink.messages.back()));
        return;
    }
    if (Shape(e) != shape) {
        tally.Fail(file, what + " changed the tree");
    } else if (QualifiedNames(e.doc.m_pDomDoc.get()) != names) {
        tally.Fail(file, what + " changed names or namespaces");
    } else {
        ++count;
    }
}

void CheckFile(Tally& tally, const fs::path& file, const hostile::TempDir& scratch) {
    ++tally.files;
    if (!XmllintAccepts(file)) {
        return;
    }
    ++tally.wellFormed;
    Editor e(Editor::FromFile{}, file.string(), false);
    if (!e.loaded.parsed) {
        tally.Fail(file, "does not open: " +
                             (e.sink.messages.empty() ? std::string() : e.sink.messages.back()));
        return;
    }
    ++tally.opened;
    // The items the window builds as it reads the text are those of the DOM.
    ParsedTree streamed = ParseForTree(e.doc, e.doc.m_strText);
    if (DescribeItems(streamed.items) != DescribeItems(e.items)) {
        tally.Fail(file, "the items built while parsing differ from the DOM's");
    }
    const std::string copy = (scratch.path / "saved.xml").string();
    std::string error = e.doc.OnSaveDocument(copy, e.doc.m_strText);
    if (error.empty() && hostile::ReadBytes(copy) == hostile::ReadBytes(file)) {
        ++tally.savedSame;
    } else {
        tally.Fail(file, "Save after Open changed the bytes " + error);
    }
    const CTreeItem* root = e.items.GetRootItem();
    if (root == nullptr) {
        return;
    }
    std::string element = FirstItem(root, "", [](const CTreeItem& item) {
        return item.selectedImage() == IMG_ELEMENT_LEAF ||
               item.selectedImage() == IMG_ELEMENT_PARENT_OPEN;
    });
    if (!element.empty()) {
        const std::string name(e.At(element)->label());
        ExpectNoChange(tally, file, file.string(), element, TreeCommand::RenameElement,
                       {.name = name, .allOccurrences = true}, tally.renamed);
    }
    std::string attribute = FirstItem(root, "", [](const CTreeItem& item) {
        return item.selectedImage() == IMG_ATTRIBUTE && !item.label().starts_with("xmlns") &&
               !ValueOfLabel(item.label()).empty();
    });
    if (!attribute.empty()) {
        const std::string value = ValueOfLabel(e.At(attribute)->label());
        ExpectNoChange(tally, file, file.string(), attribute, TreeCommand::ChangeAttributeValue,
                       {.value = value}, tally.valueSet);
    }
}

}  // namespace

TEST(SystemCorpus, EveryWellFormedFileOpensSavesAndSurvivesNeutralCommands) {
    std::vector<fs::path> files = SystemXmlFiles();
    // Debian installs hundreds of these (icons, policies, D-Bus, fontconfig).
    ASSERT_GE(files.size(), 200u) << "too few XML files under /usr/share and /etc to judge by";
    long every = 1;
    if (const char* value = std::getenv("QUORREL_CORPUS_EVERY")) {
        every = std::max(1L, std::strtol(value, nullptr, 10));
    }
    hostile::TempDir scratch;
    Tally tally;
    for (std::size_t i = 0; i < files.size(); i += std::size_t(every)) {
        CheckFile(tally, files[i], scratch);
    }
    std::cout << "System XML files: " << tally.files << " checked of " << files.size()
              << ", well-formed (xmllint --noout) " << tally.wellFormed << ", opened "
              << tally.opened << ", saved byte for byte " << tally.savedSame
              << ", renamed to their own name unchanged " << tally.renamed
              << ", attribute set to its own value unchanged " << tally.valueSet << "\n";
    RecordProperty("files", tally.files);
    RecordProperty("wellFormed", tally.wellFormed);
    RecordProperty("opened", tally.opened);
    EXPECT_GT(tally.wellFormed, 100);
    for (const std::string& failure : tally.failures) {
        ADD_FAILURE() << failure;
    }
}
