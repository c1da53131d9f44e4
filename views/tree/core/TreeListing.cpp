#include "views/tree/core/TreeListing.h"

#include <algorithm>
#include <optional>

namespace quorrel {

void AppendPlace(std::string& out, long line, long column) {
    if (line == 0) {
        out += "@?";
        return;
    }
    out += '@';
    out += std::to_string(line);
    out += ':';
    out += std::to_string(column);
}

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
        const TextPlace at = item.textOffset() == CTreeItem::kNoOffset
                                 ? TextPlace{0, 0}
                                 : positions->At(item.textOffset());
        AppendPlace(out, at.line, at.column);
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
