// Shared by the codec's source files (FileCodec.cpp, EncodingConvert.cpp,
// LineEnds.cpp, CodecFaults.cpp); not for callers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "doc/core/FileCodec.h"

namespace quorrel::codec_detail {

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
inline constexpr std::size_t kAbort = static_cast<std::size_t>(-1);

bool IsUtf8Name(std::string_view name);
// Names whose characters are wider than a byte cannot have been read as 8-bit text.
bool IsWideName(std::string_view name);
// XML's EncName; also keeps iconv suffixes such as //TRANSLIT out.
bool IsEncodingName(std::string_view name);
// Whether iconv converts between the encoding and UTF-8 both ways.
bool IconvSupports(const std::string& name);

// The first sequence a decoder could not read.
struct BadBytes {
    std::size_t fileOffset = 0;  // in the bytes decoded
    std::size_t textOffset = 0;  // where its U+FFFD stands in the text
    std::string bytes;           // a few of them, for the message
};

// Returns true when the bytes were valid UTF-8 (then text is a plain copy).
// owned, when given, holds exactly the bytes of in: valid, they become the text.
bool DecodeUtf8(std::string_view in, std::string& text, std::optional<BadBytes>& firstBad,
                std::string* owned = nullptr);
bool DecodeWithIconv(std::string_view in, const std::string& encoding, std::size_t width,
                     std::string& text, std::optional<BadBytes>& firstBad);
std::string EncodeWithIconv(std::string_view text, const std::string& encoding, bool bom,
                            std::string& error);

// Where an unencodable character stands decides whether a character reference may replace it.
enum class Where { Content, AttrValue, Name, Comment, Pi, CData, Doctype };

std::string Unencodable(std::size_t line, char32_t cp, const std::string& encoding, Where where);
// What makes the bytes unusable as they are: a declared encoding that cannot
// be used, or the first bytes the encoding does not define.
std::optional<DecodeFault> FaultOf(const DecodedFile& result, std::size_t width,
                                   const std::optional<BadBytes>& firstBad);

LineEnds DetectLineEnds(std::string_view text);
bool HasLoneLf(std::string_view text);

}  // namespace quorrel::codec_detail
