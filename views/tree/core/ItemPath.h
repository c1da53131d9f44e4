// Finding a tree item's node again: tree items carry no link to the DOM, so
// an element is named by the labels on the way down to it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorrel {

class CTreeItem;

// Earlier siblings whose label equals the item's, byte for byte (any kind of item).
std::size_t CountSameLabelSiblingsBefore(const CTreeItem* item);
// Earlier sibling text items: the item's text ordinal.
std::size_t CountTextSiblingsBefore(const CTreeItem* item);

// "/label[n]/label[n]..." from the top item down to item; the item's own step
// uses ownLabel (the current label when item is the current item).
std::string ItemPath(const CTreeItem* item, std::string_view ownLabel);
std::string ItemPath(const CTreeItem* item);

// The path the message pane shows for an item: an element's item path; for
// an attribute, text, CDATA or comment item its owner element's item path
// and then "/@name", "/text()[N]" or "/comment()[N]", N counting from 1
// among the owner's children of that kind (a CDATA section is text).
std::string ShownItemPath(const CTreeItem* item);

// The attribute's name in an attribute item's label: the text before the first blank.
std::string AttributeNameOfLabel(std::string_view label);

}  // namespace quorrel
