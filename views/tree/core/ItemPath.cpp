#include "views/tree/core/ItemPath.h"

#include <vector>

#include "views/tree/core/TreeItems.h"

namespace quorrel {

namespace {

template <class Predicate>
std::size_t CountSiblingsBefore(const CTreeItem* item, Predicate matches) {
    if (item == nullptr || item->parent() == nullptr) {
        return 0;  // the top item has no siblings
    }
    std::size_t count = 0;
    std::span<const CTreeItem> siblings = item->parent()->children();
    for (int i = item->row() - 1; i >= 0; --i) {
        if (matches(siblings[std::size_t(i)])) {
            ++count;
        }
    }
    return count;
}

void AppendStep(std::string& path, std::string_view label, std::size_t index) {
    path += '/';
    path += label;
    path += '[';
    path += std::to_string(index);
    path += ']';
}

}  // namespace

std::size_t CountSameLabelSiblingsBefore(const CTreeItem* item) {
    const std::string_view label = item != nullptr ? item->label() : std::string_view();
    return CountSiblingsBefore(item, [label](const CTreeItem& s) { return s.label() == label; });
}

std::size_t CountTextSiblingsBefore(const CTreeItem* item) {
    return CountSiblingsBefore(item, [](const CTreeItem& s) { return s.image() == IMG_TEXT; });
}

std::string ItemPath(const CTreeItem* item, std::string_view ownLabel) {
    std::vector<const CTreeItem*> chain;
    for (const CTreeItem* i = item; i != nullptr; i = i->parent()) {
        chain.push_back(i);
    }
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const CTreeItem* step = *it;
        AppendStep(path, step == item ? ownLabel : step->label(),
                   CountSameLabelSiblingsBefore(step));
    }
    return path;
}

std::string ItemPath(const CTreeItem* item) {
    return item ? ItemPath(item, item->label()) : std::string();
}

std::string ShownItemPath(const CTreeItem* item) {
    if (item == nullptr) {
        return {};
    }
    const auto text = [](const CTreeItem& s) {
        return s.image() == IMG_TEXT || s.image() == IMG_CDATA;
    };
    const auto comment = [](const CTreeItem& s) { return s.image() == IMG_COMMENT; };
    const int kind = item->image();
    if (item->parent() == nullptr ||
        (kind != IMG_ATTRIBUTE && kind != IMG_TEXT && kind != IMG_CDATA && kind != IMG_COMMENT)) {
        return ItemPath(item);
    }
    std::string path = ItemPath(item->parent());
    if (kind == IMG_ATTRIBUTE) {
        return path + "/@" + AttributeNameOfLabel(item->label());
    }
    const bool isComment = kind == IMG_COMMENT;
    const std::size_t before =
        isComment ? CountSiblingsBefore(item, comment) : CountSiblingsBefore(item, text);
    path += isComment ? "/comment()[" : "/text()[";
    path += std::to_string(before + 1);
    path += ']';
    return path;
}

std::string AttributeNameOfLabel(std::string_view label) {
    return std::string(label.substr(0, label.find(' ')));
}

}  // namespace quorrel
