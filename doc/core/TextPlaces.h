// Line and column (from 1; the column counts characters) of byte offsets
// into a UTF-8 text, where CR LF, LF and a lone CR each end a line.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorrel {

struct TextPlace {
    long line = 1;
    long column = 1;
    bool operator==(const TextPlace&) const = default;
};

// For offsets asked mostly in increasing order: each answer reads only the
// bytes since the one before.
class LineColumns {
public:
    explicit LineColumns(std::string_view text) : m_text(text) {}
    TextPlace At(std::size_t offset);

private:
    std::string_view m_text;
    std::size_t m_offset = 0;
    TextPlace m_place;
};

inline TextPlace PlaceOf(std::string_view text, std::size_t offset) {
    return LineColumns(text).At(offset);
}

}  // namespace quorrel
