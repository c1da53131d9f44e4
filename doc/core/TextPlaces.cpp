#include "doc/core/TextPlaces.h"

#include <algorithm>

namespace quorrel {

TextPlace LineColumns::At(std::size_t offset) {
    if (offset < m_offset) {
        m_offset = 0, m_place = {};
    }
    offset = std::min(offset, m_text.size());
    for (; m_offset < offset; ++m_offset) {
        unsigned char c = static_cast<unsigned char>(m_text[m_offset]);
        if (c == '\n' ||
            (c == '\r' && (m_offset + 1 >= m_text.size() || m_text[m_offset + 1] != '\n'))) {
            ++m_place.line, m_place.column = 1;
        } else if (c != '\r' && (c & 0xC0) != 0x80) {
            ++m_place.column;  // a character's first byte
        }
    }
    return m_place;
}

}  // namespace quorrel
