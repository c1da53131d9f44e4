// A document with its tree as the editor holds them, for tests of the tree
// commands: open a text or a file, address items by position, run commands.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "edit/core/TreeCommands.h"
#include "views/tree/core/TreeItems.h"
#include "views/tree/core/TreeListing.h"

namespace quorrel::test_support {

// An expected result: a text that parses, which a command writes as it stands.
inline std::string Canon(const std::string& text) {
    LoadOptions options;
    options.validateOnParse = false;
    XmlDocument dom;
    EXPECT_TRUE(dom.loadXML(text, options)) << text;
    return dom.xml(text);
}

// The text parsed and written anew from its nodes: two texts that give the
// same are the same document.
inline std::string Fresh(const std::string& text) {
    LoadOptions options;
    options.validateOnParse = false;
    XmlDocument dom;
    EXPECT_TRUE(dom.loadXML(text, options)) << text;
    return dom.xml();
}

// The items in document order, one line each, as quorrel-cli tree lists them.
inline std::string DescribeItems(const CTreeItems& items) {
    return TreeListing(items);
}

// The same with a '+' after the images of an expanded item.
inline void Dump(const CTreeItems& items, std::string& out) {
    out += TreeListing(items, {.markExpanded = true});
}

struct CountingView : CDocView {
    void OnUpdate(CDocView*) override { ++updates; }
    int updates = 0;
};

// A document with its tree, as the editor holds them.
struct Editor {
    CollectingSink sink;
    CDoc doc{sink};
    CTreeItems items;
    CountingView sourceView, treeView;

    explicit Editor(const std::string& text) {
        doc.OnValidateNo();
        doc.ReplaceText(text);
        EXPECT_TRUE(doc.ReparseDocument()) << text;
        BuildTreeFromDom(doc, items);
        doc.AddView(&sourceView);
        doc.AddView(&treeView);
    }
    // The file opened as File > Open does.
    struct FromFile {};
    Editor(FromFile, const std::string& path, bool validate) {
        if (!validate) {
            doc.OnValidateNo();
        }
        loaded = doc.OnOpenDocument(path);
        BuildTreeFromDom(doc, items);
        doc.AddView(&sourceView);
        doc.AddView(&treeView);
    }
    LoadResult loaded;

    // "": the top item; "0.1": the top item's first child's second child.
    const CTreeItem* At(const std::string& dotPath) const {
        const CTreeItem* item = items.GetRootItem();
        std::size_t pos = 0;
        while (item != nullptr && pos < dotPath.size()) {
            std::size_t end = dotPath.find('.', pos);
            std::size_t index = std::stoul(dotPath.substr(pos, end - pos));
            item = index < item->children().size() ? &item->children()[index] : nullptr;
            pos = end == std::string::npos ? dotPath.size() : end + 1;
        }
        EXPECT_NE(item, nullptr) << "no item at " << dotPath;
        return item;
    }

    CommandOutcome Run(const CTreeItem* item, TreeCommand command, const CommandInputs& inputs) {
        CurrentItem current;
        if (item != nullptr) {
            current = CurrentItemOf(item);
        }
        return RunTreeCommand(doc, items, current, command, inputs, sink, &treeView);
    }
    CommandOutcome Run(const std::string& dotPath, TreeCommand command,
                       const CommandInputs& inputs) {
        return Run(At(dotPath), command, inputs);
    }

    std::string Tree() const {
        std::string out;
        Dump(items, out);
        return out;
    }
    // The DOM written anew from its nodes.
    std::string Dom() const { return doc.HasDom() ? doc.Dom().xml() : "<no DOM>"; }
};

}  // namespace quorrel::test_support
