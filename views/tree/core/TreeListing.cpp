#include "views/tree/core/TreeListing.h"

#include <algorithm>
#include <optional>

namespace quorrel {

std::string LineColumns::At(std::size_t offset) {
    if (offset < m_offset) {
        m_offset = 0, m_line = 1, m_column = 1;
    }
    offset = std::min(offset, m_text.size());
    for (; m_offset < offset; ++m_offset) {
        unsigned char c = static_cast<unsigned char>(m_text[m_offset]);
        if (c == '\n' ||
            (c == '\r' && (m_offset + 1 >= m_text.size() || m_text[m_offset + 1] != '\n'))) {
            ++m_line, m_column = 1;
        } else if (c != '\r' && (c & 0xC0) != 0x80) {
            ++m_column;  // a character's first byte
        }
    }
    return "@" + std::to_string(m_line) + ":" + std::to_string(m_column);
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
        out += item.textOffset() == CTreeItem::kNoOffset ? std::string("@?")
                                                         : positions->At(item.textOffset());
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
