// The innermost tree item whose node holds an offset of the text the items
// were parsed from.
#include <span>
#include <string_view>

#include "views/tree/core/TreeItems.h"

namespace quorrel {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// The '>' that ends the tag open at from (quoted values may hold one).
std::size_t TagEnd(std::string_view text, std::size_t from) {
    for (std::size_t p = from; p < text.size(); ++p) {
        if (text[p] == '"' || text[p] == '\'') {
            p = text.find(text[p], p + 1);
            if (p == npos) {
                return npos;
            }
        } else if (text[p] == '>') {
            return p;
        }
    }
    return npos;
}

// Past the end of the end tag of an element open at from, whose content
// holds no item (blanks, processing instructions).
std::size_t EndTagEnd(std::string_view text, std::size_t from) {
    for (std::size_t p = text.find('<', from); p != npos; p = text.find('<', p + 1)) {
        if (text.substr(p).starts_with("<?")) {
            p = text.find("?>", p + 2);
            if (p == npos) {
                return npos;
            }
        } else if (text.substr(p).starts_with("</")) {
            std::size_t gt = text.find('>', p);
            return gt == npos ? npos : gt + 1;
        }
    }
    return npos;
}

// Past the end of an item without child items.
std::size_t EndOf(const CTreeItem& item, std::string_view text) {
    const std::size_t start = item.textOffset();
    auto after = [&](std::string_view close, std::size_t open) {
        std::size_t at = text.find(close, std::min(start + open, text.size()));
        return at == npos ? npos : at + close.size();
    };
    switch (item.selectedImage()) {
        case IMG_ATTRIBUTE: {
            std::size_t quote = text.find_first_of("\"'", start);
            std::size_t close = quote == npos ? npos : text.find(text[quote], quote + 1);
            return close == npos ? npos : close + 1;
        }
        case IMG_TEXT:
            return std::min(text.find('<', start), text.size());
        case IMG_COMMENT:
            return after("-->", 4);
        case IMG_CDATA:
            return after("]]>", 9);
        default: {  // an element
            std::size_t gt = TagEnd(text, start + 1);
            if (gt == npos) {
                return npos;
            }
            return text[gt - 1] == '/' ? gt + 1 : EndTagEnd(text, gt + 1);
        }
    }
}

// The last of the items whose own node starts at or before the offset. An
// item with no place of its own stands at the place of one before it, and
// the places never decrease along an element's content.
const CTreeItem* LastPlacedAtOrBefore(std::span<const CTreeItem> items, std::size_t offset) {
    auto begin = items.begin();
    auto end = std::upper_bound(
        begin, items.end(), offset,
        [](std::size_t at, const CTreeItem& item) { return at < item.textOffset(); });
    while (end != begin) {
        auto last = end - 1;
        if (last->hasOwnPlace()) {
            return &*last;
        }
        // The first at its place is the one it took the place from, when
        // that one is a sibling; else it took it from before them all.
        end = std::lower_bound(
            begin, last, last->textOffset(),
            [](const CTreeItem& item, std::size_t at) { return item.textOffset() < at; });
        if (end != last && end->hasOwnPlace()) {
            return &*end;
        }
    }
    return nullptr;
}

// Attributes stand in the order of the element's lists, not of the text
// (declarations come first): the one written last at or before the offset.
const CTreeItem* PlacedAttributeAtOrBefore(std::span<const CTreeItem> attributes,
                                           std::size_t offset) {
    const CTreeItem* found = nullptr;
    for (const CTreeItem& a : attributes) {
        if (a.hasOwnPlace() && a.textOffset() <= offset &&
            (found == nullptr || a.textOffset() > found->textOffset())) {
            found = &a;
        }
    }
    return found;
}

}  // namespace

const CTreeItem* ItemAtOffset(const CTreeItems& items, std::string_view text, std::size_t offset) {
    const CTreeItem* node = items.GetRootItem();
    if (node == nullptr || !node->hasOwnPlace() || offset < node->textOffset() ||
        offset >= text.size()) {
        return nullptr;
    }
    // The innermost item the text holds that starts at or before the offset.
    bool placedContent = false;
    for (;;) {
        std::span<const CTreeItem> children = node->children();
        auto contentBegin =
            std::partition_point(children.begin(), children.end(),
                                 [](const CTreeItem& c) { return c.image() == IMG_ATTRIBUTE; });
        std::span<const CTreeItem> content(contentBegin, children.end());
        if (const CTreeItem* child = LastPlacedAtOrBefore(content, offset)) {
            node = child;
            continue;
        }
        placedContent = std::any_of(content.begin(), content.end(),
                                    [](const CTreeItem& c) { return c.hasOwnPlace(); });
        std::span<const CTreeItem> attributes(children.begin(), contentBegin);
        if (const CTreeItem* attribute = PlacedAttributeAtOrBefore(attributes, offset)) {
            node = attribute;
            placedContent = false;
        }
        break;
    }
    if (placedContent) {
        return node;  // in its start tag, before its first child
    }
    std::size_t end = EndOf(*node, text);
    if (end == npos || offset < end) {
        return node;
    }
    // Past it: in the start tag of the attribute's element, or in blanks,
    // processing instructions and end tags up to the next item.
    const CTreeItem* open = node->parent();
    if (node->selectedImage() == IMG_ATTRIBUTE) {
        std::size_t gt = TagEnd(text, end);
        if (gt == npos || offset <= gt) {
            return open;
        }
        end = gt + 1;
        if (text[gt - 1] == '/') {
            open = open->parent();
        }
    }
    for (std::size_t p = end; open != nullptr;) {
        p = text.find('<', p);
        if (p == npos || p > offset) {
            return open;
        }
        if (text.substr(p).starts_with("<?")) {
            p = text.find("?>", p + 2);
            if (p == npos) {
                return open;
            }
            continue;
        }
        if (!text.substr(p).starts_with("</")) {
            return open;
        }
        std::size_t gt = text.find('>', p);
        if (gt == npos || offset <= gt) {
            return open;  // in its end tag
        }
        open = open->parent();
        p = gt + 1;
    }
    return nullptr;
}

}  // namespace quorrel
