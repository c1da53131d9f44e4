// The tree items as `quorrel-cli tree` lists them, one line per item in
// document order: two blanks per depth level, IMAGE/SELECTED-IMAGE, a blank
// and the label with \ \n \r \t escaped. With the document text, each line
// ends with a tab and @LINE:COLUMN where the item's node starts (@? for an
// item with no place in the text).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "doc/core/TextPlaces.h"
#include "views/tree/core/TreeItems.h"

namespace quorrel {

struct TreeListingOptions {
    // The text the items were parsed from: each line ends with the item's place.
    const std::string* positionsIn = nullptr;
    // A '+' after the images of an expanded item (the pane's state, not printed).
    bool markExpanded = false;
};

// Appends "@LINE:COLUMN", or "@?" for a place not known (line 0).
void AppendPlace(std::string& out, long line, long column);

// Appends label with \ \n \r \t escaped.
void AppendEscapedLabel(std::string& out, std::string_view label);

// Appends the item's line; positions: given when the line ends with its place.
void AppendTreeListingLine(std::string& out, const CTreeItem& item, int depth,
                           const TreeListingOptions& options, LineColumns* positions);

// The whole listing, handed to write in pieces (about a megabyte each) so a
// large tree is never held twice.
void WriteTreeListing(const CTreeItems& items, const TreeListingOptions& options,
                      const std::function<void(std::string_view)>& write);

std::string TreeListing(const CTreeItems& items, const TreeListingOptions& options = {});

}  // namespace quorrel
