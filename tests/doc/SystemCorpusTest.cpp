// The XML files this machine's packages install (SVG icons, policies, D-Bus
// and font configuration, feeds, schemas, catalogs...): every one that
// xmllint reads must open, save back byte for byte, and come through a
// rename to its own name and a value set to itself with the same bytes, the
// same tree and the same namespace-qualified names. A command that changes
// something changes only the lines it must, and mixed content reads the
// same characters afterwards. QUORREL_CORPUS_EVERY=N takes every Nth file
// only (the sanitizer run does).
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "doc/core/XmlDomInternal.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/TestEditor.h"
#include "views/tree/core/ItemPath.h"

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
    int files = 0, wellFormed = 0, opened = 0, savedSame = 0, rewrittenSame = 0, renamed = 0,
        valueSet = 0, renamedOne = 0, attributeAdded = 0, leafDeleted = 0, mixedFiles = 0,
        mixedSame = 0;
    std::vector<std::string> failures;
    void Fail(const fs::path& file, const std::string& what) {
        failures.push_back(file.string() + ": " + what);
    }
};

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find('\n', at)) != std::string_view::npos; at = nl + 1) {
        lines.push_back(text.substr(at, nl - at));
    }
    lines.push_back(text.substr(at));
    return lines;
}

// The lines that differ between two texts: those after the common first
// lines and before the common last ones, in each.
struct LineChange {
    std::size_t first = 0;     // the first line that differs
    std::size_t before = 0;    // how many lines of the old text differ
    std::size_t after = 0;     // ... and of the new one
    std::string_view oldLine;  // the first of them, when there is one
    std::string_view newLine;
};
LineChange Diff(std::string_view was, std::string_view now) {
    std::vector<std::string_view> a = Lines(was), b = Lines(now);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    LineChange change{head, a.size() - head - tail, b.size() - head - tail, {}, {}};
    if (change.before > 0) {
        change.oldLine = a[head];
    }
    if (change.after > 0) {
        change.newLine = b[head];
    }
    return change;
}

std::size_t LineOf(std::string_view text, std::size_t offset) {
    return std::size_t(std::count(text.begin(), text.begin() + std::ptrdiff_t(offset), '\n'));
}

// What each element with mixed content reads, blanks included, in document
// order, as a tool that keeps every blank reads it.
std::vector<std::string> MixedContent(const std::string& text) {
    std::vector<std::string> out;
    xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOWARNING |
                                      XML_PARSE_NOERROR | XML_PARSE_HUGE);
    if (doc == nullptr) {
        return out;
    }
    detail::walkTree(
        xmlDocGetRootElement(doc),
        [&](xmlNodePtr n) {
            if (n->type != XML_ELEMENT_NODE) {
                return false;
            }
            bool text = false, element = false;
            for (xmlNodePtr c = n->children; c != nullptr; c = c->next) {
                element = element || c->type == XML_ELEMENT_NODE;
                text = text || (c->type == XML_TEXT_NODE && !detail::isBlank(c->content));
            }
            if (text && element) {
                xmlChar* content = xmlNodeGetContent(n);
                out.emplace_back(content != nullptr ? detail::str(content) : "");
                xmlFree(content);
            }
            return true;
        },
        [](xmlNodePtr) {});
    xmlFreeDoc(doc);
    return out;
}

// A command that changes nothing in meaning must leave the bytes, the tree
// and every name and namespace as they were.
void ExpectNoChange(Tally& tally, const fs::path& file, const std::string& item,
                    TreeCommand command, const CommandInputs& inputs, int& count) {
    Editor e(Editor::FromFile{}, file.string(), false);
    const std::string text = e.doc.Text();
    std::string shape = Shape(e), names = QualifiedNames(e.doc.HasDom() ? &e.doc.Dom() : nullptr);
    CommandOutcome outcome = e.Run(item, command, inputs);
    std::string what = std::string(TreeCommandName(command)) + " on item " + item;
    if (outcome != CommandOutcome::Done) {
        tally.Fail(file, what + " failed: " +
                             (e.sink.messages.empty() ? std::string() : e.sink.messages.back()));
        return;
    }
    if (e.doc.Text() != text) {
        LineChange change = Diff(text, e.doc.Text());
        tally.Fail(file, what + " changed the text at line " + std::to_string(change.first + 1) +
                             ": " + std::string(change.newLine));
    } else if (Shape(e) != shape) {
        tally.Fail(file, what + " changed the tree");
    } else if (QualifiedNames(e.doc.HasDom() ? &e.doc.Dom() : nullptr) != names) {
        tally.Fail(file, what + " changed names or namespaces");
    } else {
        ++count;
    }
}

// Runs a command that must change only some lines of the text; check gets
// the text before and after and says what is wrong, if anything.
template <class Check>
void ExpectChange(Tally& tally, const fs::path& file, const std::string& item, TreeCommand command,
                  const CommandInputs& inputs, int& count, Check&& check) {
    Editor e(Editor::FromFile{}, file.string(), false);
    const std::string text = e.doc.Text();
    const std::vector<std::string> mixed = MixedContent(text);
    std::string what = std::string(TreeCommandName(command)) + " on item " + item;
    if (e.Run(item, command, inputs) != CommandOutcome::Done) {
        tally.Fail(file, what + " failed: " +
                             (e.sink.messages.empty() ? std::string() : e.sink.messages.back()));
        return;
    }
    if (std::string wrong = check(e, text, e.doc.Text()); !wrong.empty()) {
        tally.Fail(file, what + ": " + wrong);
        return;
    }
    if (command != TreeCommand::DeleteElementAndChildren && MixedContent(e.doc.Text()) != mixed) {
        tally.Fail(file, what + " changed what mixed content reads");
        return;
    }
    ++count;
}

// Only the lines of the element's start tag (begin to tagEnd) and end tag changed.
std::string OnlyTagLines(const std::string& before, const std::string& after, std::size_t begin,
                         std::size_t tagEnd, std::size_t endTag) {
    LineChange change = Diff(before, after);
    if (change.before != change.after) {
        return "the number of lines changed";
    }
    const std::size_t first = LineOf(before, begin), last = LineOf(before, tagEnd),
                      end = LineOf(before, endTag);
    std::vector<std::string_view> was = Lines(before), now = Lines(after);
    for (std::size_t i = change.first; i < change.first + change.before; ++i) {
        if ((i < first || i > last) && i != end && was[i] != now[i]) {
            return "line " + std::to_string(i + 1) + " changed: " + std::string(now[i]);
        }
    }
    return {};
}

// Where the start tag at begin ends: its '>' (attribute values may hold one).
std::size_t StartTagEnd(const std::string& text, std::size_t begin) {
    char quote = 0;
    for (std::size_t i = begin; i < text.size(); ++i) {
        if (quote != 0) {
            quote = text[i] == quote ? 0 : quote;
        } else if (text[i] == '"' || text[i] == '\'') {
            quote = text[i];
        } else if (text[i] == '>') {
            return i;
        }
    }
    return text.size();
}

// Where the element item's node ends in the text dom was parsed from; 0 when
// it has no place of its own (it came from an entity).
std::size_t ElementEnd(XmlDocument& dom, const CTreeItem* item) {
    std::optional<std::vector<XmlNode>> nodes = dom.selectNodes(ItemPath(item));
    if (!nodes || nodes->empty()) {
        return 0;
    }
    const auto* node = static_cast<const xmlNode*>(nodes->front().raw());
    return detail::sourceOffset(node) ? detail::elementEnd(node) : 0;
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
    const std::string& text = e.doc.Text();
    // The items the window builds as it reads the text are those of the DOM.
    ParsedTree streamed = ParseForTree(e.doc, text);
    if (DescribeItems(streamed.items) != DescribeItems(e.items)) {
        tally.Fail(file, "the items built while parsing differ from the DOM's");
    }
    // Every element written as a command that rewrote its tags and content
    // would write it: where each node stands in the text is exact.
    {
        XmlDocument dom;
        e.doc.ParseText(dom, text);
        detail::markEverythingChanged(dom, false);
        std::string rewritten = dom.xml(text);
        if (rewritten == text) {
            ++tally.rewrittenSame;
        } else {
            LineChange change = Diff(text, rewritten);
            tally.Fail(file, "rewriting every element changed line " +
                                 std::to_string(change.first + 1) + ": " +
                                 std::string(change.newLine));
        }
    }
    const std::string copy = (scratch.path / "saved.xml").string();
    // Saved apart: the document keeps its own name, which DTDs resolve against.
    CollectingSink sink;
    CDoc saving(sink);
    saving.SetCodec(e.doc.Codec());
    std::string error = saving.OnSaveDocument(copy, text);
    if (error.empty() && hostile::ReadBytes(copy) == hostile::ReadBytes(file)) {
        ++tally.savedSame;
    } else {
        tally.Fail(file, "Save after Open changed the bytes " + error);
    }
    const CTreeItem* root = e.items.GetRootItem();
    if (root == nullptr) {
        return;
    }
    if (!MixedContent(text).empty()) {
        ++tally.mixedFiles;
    }
    XmlDocument placed;
    e.doc.ParseText(placed, text);
    auto isElement = [&](const CTreeItem& item) {
        return (item.selectedImage() == IMG_ELEMENT_LEAF ||
                item.selectedImage() == IMG_ELEMENT_PARENT_OPEN) &&
               ElementEnd(placed, &item) != 0;
    };
    std::string element = FirstItem(root, "", isElement);
    if (!element.empty()) {
        const CTreeItem* item = e.At(element);
        const std::string name(item->label());
        ExpectNoChange(tally, file, element, TreeCommand::RenameElement,
                       {.name = name, .allOccurrences = true}, tally.renamed);
        const std::size_t begin = item->textOffset();
        const std::size_t end = ElementEnd(placed, item);
        const std::size_t endTag = text.rfind('<', end - 1);
        const int before = tally.renamedOne;
        ExpectChange(tally, file, element, TreeCommand::RenameElement, {.name = "quorrelRenamed"},
                     tally.renamedOne,
                     [&](const Editor&, const std::string& was, const std::string& now) {
                         return OnlyTagLines(was, now, begin, StartTagEnd(was, begin), endTag);
                     });
        if (tally.renamedOne > before && !MixedContent(text).empty()) {
            ++tally.mixedSame;
        }
        ExpectChange(tally, file, element, TreeCommand::AddAttribute,
                     {.name = "quorrelAdded", .value = "1"}, tally.attributeAdded,
                     [&](const Editor&, const std::string& was, const std::string& now) {
                         LineChange change = Diff(was, now);
                         if (change.before != 1 || change.after != 1 ||
                             change.newLine.find(" quorrelAdded=") == std::string_view::npos) {
                             return std::string("more than the start tag's last line changed");
                         }
                         return std::string();
                     });
    }
    // A leaf element whose name no other element bears, deleted.
    std::map<std::string, int, std::less<>> names;
    for (XmlNode n : e.doc.Dom().documentElement().getElementsByTagName("*")) {
        ++names[n.nodeName()];
    }
    std::string leaf = FirstItem(root, "", [&](const CTreeItem& item) {
        if (item.selectedImage() != IMG_ELEMENT_LEAF) {
            return false;
        }
        auto count = names.find(item.label());
        return count != names.end() && count->second == 1 && ElementEnd(placed, &item) != 0;
    });
    if (!leaf.empty()) {
        const CTreeItem* item = e.At(leaf);
        const std::size_t begin = item->textOffset();
        const std::size_t end = ElementEnd(placed, item);
        ExpectChange(tally, file, leaf, TreeCommand::DeleteElementAndChildren, {},
                     tally.leafDeleted,
                     [&](const Editor&, const std::string& was, const std::string& now) {
                         LineChange change = Diff(was, now);
                         const std::size_t first = LineOf(was, begin), last = LineOf(was, end);
                         if (change.first < first || change.first + change.before > last + 1 ||
                             change.after > 1) {
                             return "lines beyond the element's own changed (line " +
                                    std::to_string(change.first + 1) + ")";
                         }
                         return std::string();
                     });
    }
    std::string attribute = FirstItem(root, "", [&](const CTreeItem& item) {
        if (item.selectedImage() != IMG_ATTRIBUTE || item.label().starts_with("xmlns") ||
            ValueOfLabel(item.label()).empty()) {
            return false;
        }
        // One the text holds: a value set to a DTD's default is written.
        auto owners = e.doc.Dom().selectNodes(ItemPath(item.parent()));
        return owners && !owners->empty() &&
               owners->front()
                   .attributes()
                   .getNamedItem(AttributeNameOfLabel(item.label()))
                   .specified();
    });
    if (!attribute.empty()) {
        const std::string value = ValueOfLabel(e.At(attribute)->label());
        ExpectNoChange(tally, file, attribute, TreeCommand::ChangeAttributeValue, {.value = value},
                       tally.valueSet);
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
              << ", every element rewritten byte for byte " << tally.rewrittenSame
              << ", renamed to their own name unchanged " << tally.renamed
              << ", attribute set to its own value unchanged " << tally.valueSet
              << ", one element renamed in its tag lines only " << tally.renamedOne
              << ", attribute added in its tag line only " << tally.attributeAdded
              << ", unique leaf deleted in its own lines only " << tally.leafDeleted
              << ", files with mixed content " << tally.mixedFiles
              << ", of which read the same after a rename " << tally.mixedSame << "\n";
    RecordProperty("files", tally.files);
    RecordProperty("wellFormed", tally.wellFormed);
    RecordProperty("opened", tally.opened);
    EXPECT_GT(tally.wellFormed, 100);
    for (const std::string& failure : tally.failures) {
        ADD_FAILURE() << failure;
    }
}
