#include "views/tree/core/TreeListing.h"

#include <algorithm>
#include <optional>

namespace quorrel {

void AppendEscapedLabel(std::string& out, std::string_view label) {
    for (char c : label) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
}

void AppendTreeListingLine(std::string& out, const CTreeItem& item, int depth,
                           const TreeListingOptions& options, LineColumns* positions) {
    out.append(std::size_t(depth) * 2, ' ');
    out += std::to_string(item.image());
    out += '/';
    out += std::to_string(item.selectedImage());
    if (options.markExpanded && item.expanded()) {
        out += '+';
    }
    out += ' ';
    AppendEscapedLabel(out, item.label());
    if (positions != nullptr) {
        out += '\t';
        if (item.textOffset() == CTreeItem::kNoOffset) {
            out += "@?";
        } else {
            const TextPlace at = positions->At(item.textOffset());
            out += "@" + std::to_string(at.line) + ":" + std::to_string(at.column);
        }
    }
    out += '\n';
}

void WriteTreeListing(const CTreeItems& items, const TreeListingOptions& options,
                      const std::function<void(std::string_view)>& write) {
    std::string out;
    std::optional<LineColumns> positions;
    if (options.positionsIn != nullptr) {
        positions.emplace(*options.positionsIn);
    }
    VisitItems(items, [&](const CTreeItem& item, int depth) {
        AppendTreeListingLine(out, item, depth, options, positions ? &*positions : nullptr);
        if (out.size() > (1 << 20)) {
            write(out);
            out.clear();
        }
    });
    write(out);
}

std::string TreeListing(const CTreeItems& items, const TreeListingOptions& options) {
    std::string listing;
    WriteTreeListing(items, options, [&](std::string_view piece) { listing += piece; });
    return listing;
}

}  // namespace quorrel
