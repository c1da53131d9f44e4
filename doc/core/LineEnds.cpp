// Line ends: which a text uses, and LF turned into CR LF for a file that has them.
#include <string>
#include <string_view>

#include "doc/core/FileCodecInternal.h"

namespace quorrel {

namespace codec_detail {

LineEnds DetectLineEnds(std::string_view text) {
    bool crLf = false, loneLf = false;
    for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
        (i > 0 && text[i - 1] == '\r' ? crLf : loneLf) = true;
        if (crLf && loneLf) {
            return LineEnds::Mixed;
        }
    }
    for (std::size_t i = text.find('\r'); i != std::string_view::npos; i = text.find('\r', i + 1)) {
        if (i + 1 == text.size() || text[i + 1] != '\n') {
            return LineEnds::Mixed;
        }
    }
    return crLf ? LineEnds::CrLf : LineEnds::Lf;
}

bool HasLoneLf(std::string_view text) {
    for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
        if (i == 0 || text[i - 1] != '\r') {
            return true;
        }
    }
    return false;
}

}  // namespace codec_detail

std::string ApplyLineEnds(std::string_view text, LineEnds style) {
    if (style != LineEnds::CrLf) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 16);
    std::size_t copied = 0;
    for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
        if (i == 0 || text[i - 1] != '\r') {
            out.append(text.substr(copied, i - copied));
            out += '\r';
            copied = i;
        }
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace quorrel
