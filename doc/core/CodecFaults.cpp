// The codec's fault messages: bytes an encoding does not define, a declared
// encoding that cannot be used, a character an encoding cannot hold.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "doc/core/FileCodecInternal.h"
#include "doc/core/TextPlaces.h"

namespace quorrel {

using codec_detail::BadBytes;
using codec_detail::IsUtf8Name;
using codec_detail::IsWideName;
using codec_detail::Where;

namespace {

const char* Describe(Where where) {
    switch (where) {
        case Where::Comment:
            return "inside a comment";
        case Where::Pi:
            return "inside a processing instruction";
        case Where::CData:
            return "inside a CDATA section";
        case Where::Doctype:
            return "inside a DOCTYPE";
        default:
            return "inside a tag or attribute name";
    }
}

std::string HexBytes(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%s0x%02X", out.empty() ? "" : " ",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += hex;
    }
    return out;
}

}  // namespace

namespace codec_detail {

std::string Unencodable(std::size_t line, char32_t cp, const std::string& encoding, Where where) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    return "Line " + std::to_string(line) + ": the character " + code + " cannot be written in " +
           encoding + " " + Describe(where) + ". Use a different encoding or remove the character.";
}

// What makes the bytes unusable as they are: a declared encoding that cannot
// be used, or the first bytes the encoding does not define.
std::optional<DecodeFault> FaultOf(const DecodedFile& result, std::size_t width,
                                   const std::optional<BadBytes>& firstBad) {
    const TextCodec& codec = result.codec;
    bool declaredUnusable = !codec.declared.empty() && width == 1 && !codec.bom &&
                            codec.encoding == "UTF-8" && !IsUtf8Name(codec.declared);
    if (declaredUnusable) {
        DecodeFault fault;
        fault.reason = IsWideName(codec.declared)
                           ? "Document labelled " + codec.declared + " but has UTF-8 content"
                           : "Unsupported encoding " + codec.declared;
        return fault;
    }
    if (!firstBad) {
        return std::nullopt;
    }
    auto [line, column] = PlaceOf(result.text, firstBad->textOffset);
    DecodeFault fault;
    fault.line = line;
    fault.column = column;
    fault.invalidBytes = true;
    fault.reason = "Bytes not valid in " + codec.encoding + " at byte " +
                   std::to_string(firstBad->fileOffset) + ": " + HexBytes(firstBad->bytes);
    return fault;
}

}  // namespace codec_detail

}  // namespace quorrel
