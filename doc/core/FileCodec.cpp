// The codec: detects a file's encoding, decodes it to the document text and
// encodes the text back. The conversions themselves are in EncodingConvert.cpp,
// the line ends in LineEnds.cpp, the fault messages in CodecFaults.cpp, the
// file reading and writing in FileIo.cpp.
#include "doc/core/FileCodec.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "doc/core/FileCodecInternal.h"

namespace quorrel {

using codec_detail::BadBytes;
using codec_detail::DecodeUtf8;
using codec_detail::DecodeWithIconv;
using codec_detail::DetectLineEnds;
using codec_detail::EncodeWithIconv;
using codec_detail::FaultOf;
using codec_detail::HasLoneLf;
using codec_detail::IconvSupports;
using codec_detail::IsEncodingName;
using codec_detail::IsUtf8Name;
using codec_detail::IsWideName;
using codec_detail::kUtf8Bom;

namespace {

// The first NUL character: a zero byte, or a zero code unit for UTF-16.
std::optional<std::size_t> FindNul(std::string_view s, std::size_t width) {
    if (width == 1) {
        const void* p = s.empty() ? nullptr : std::memchr(s.data(), 0, s.size());
        if (p == nullptr) {
            return std::nullopt;
        }
        return static_cast<const char*>(p) - s.data();
    }
    for (std::size_t i = 0; i + 1 < s.size(); i += 2) {
        if (s[i] == 0 && s[i + 1] == 0) {
            return i;
        }
    }
    return std::nullopt;
}

// The `encoding` pseudo-attribute of a leading <?xml ...?>, read in code units
// of `width` bytes; non-ASCII units end the search.
std::string DeclaredEncoding(std::string_view s, std::size_t width, bool bigEndian) {
    std::string head;
    for (std::size_t i = 0; i + width <= s.size() && head.size() < 512; i += width) {
        unsigned unit = static_cast<unsigned char>(s[i]);
        if (width == 2) {
            auto a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
            unit = bigEndian ? (a << 8 | b) : (b << 8 | a);
        }
        if (unit == 0 || unit >= 0x80) {
            break;
        }
        head += static_cast<char>(unit);
        if (head.ends_with("?>")) {
            break;
        }
    }
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (!head.starts_with("<?xml") || head.size() < 6 || !isSpace(head[5])) {
        return "";
    }
    std::size_t i = 5;
    while (true) {
        while (i < head.size() && isSpace(head[i])) {
            ++i;
        }
        std::size_t nameStart = i;
        while (i < head.size() && std::isalpha(static_cast<unsigned char>(head[i]))) {
            ++i;
        }
        std::string_view name = std::string_view(head).substr(nameStart, i - nameStart);
        while (i < head.size() && isSpace(head[i])) {
            ++i;
        }
        if (name.empty() || i >= head.size() || head[i] != '=') {
            return "";
        }
        ++i;
        while (i < head.size() && isSpace(head[i])) {
            ++i;
        }
        if (i >= head.size() || (head[i] != '"' && head[i] != '\'')) {
            return "";
        }
        std::size_t close = head.find(head[i], i + 1);
        if (close == std::string::npos) {
            return "";
        }
        if (name == "encoding") {
            return head.substr(i + 1, close - i - 1);
        }
        i = close + 1;
    }
}

// Word-at-a-time mixing: hashing 100 MB on every save must stay cheap.
std::uint64_t HashText(std::string_view s) {
    constexpr std::uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    std::uint64_t h = k1 ^ (s.size() * k2);
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h ^= w * k2;
        h = ((h << 31) | (h >> 33)) * k1;
    }
    for (; i < s.size(); ++i) {
        h = (h ^ static_cast<unsigned char>(s[i])) * 0x100000001B3ull;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return h;
}

}  // namespace

bool IsDecodedText(const TextCodec& codec, std::string_view text) {
    return text.size() == codec.decodedSize && HashText(text) == codec.decodedHash;
}

namespace {
DecodedFile Decode(std::string_view bytes, std::string* owned);
}

DecodedFile DecodeFileBytes(std::string_view bytes) {
    return Decode(bytes, nullptr);
}

DecodedFile DecodeOwnedFileBytes(std::string&& bytes) {
    return Decode(std::string_view(bytes), &bytes);
}

namespace {

DecodedFile Decode(std::string_view bytes, std::string* owned) {
    DecodedFile result;
    TextCodec& codec = result.codec;
    std::size_t width = 1;
    std::size_t bomLength = 0;
    bool bigEndian = false;
    auto startsWith = [&](std::string_view s) { return bytes.starts_with(s); };
    if (startsWith(kUtf8Bom)) {
        bomLength = 3;
    } else if (startsWith("\xFF\xFE") || startsWith(std::string_view("\x3C\x00\x3F\x00", 4))) {
        width = 2;
        bomLength = startsWith("\xFF\xFE") ? 2 : 0;
    } else if (startsWith("\xFE\xFF") || startsWith(std::string_view("\x00\x3C\x00\x3F", 4))) {
        width = 2;
        bigEndian = true;
        bomLength = startsWith("\xFE\xFF") ? 2 : 0;
    }
    codec.bom = bomLength > 0;
    std::string_view body = bytes.substr(bomLength);
    codec.declared = DeclaredEncoding(body, width, bigEndian);

    if (width == 2) {
        codec.encoding = bigEndian ? "UTF-16BE" : "UTF-16LE";
    } else if (!codec.bom && !codec.declared.empty() && !IsUtf8Name(codec.declared) &&
               !IsWideName(codec.declared) && IsEncodingName(codec.declared) &&
               IconvSupports(codec.declared)) {
        codec.encoding = codec.declared;
    }

    // A NUL ends the text; find it in the bytes, where its offset is known.
    if (auto nul = FindNul(body, width)) {
        result.nulOffset = bomLength + *nul;
        body = body.substr(0, *nul);
    }
    std::optional<BadBytes> firstBad;
    // The bytes become the text as they are when nothing goes before or after it.
    std::string* whole = body.size() == bytes.size() ? owned : nullptr;
    bool exact = codec.encoding == "UTF-8"
                     ? DecodeUtf8(body, result.text, firstBad, whole)
                     : DecodeWithIconv(body, codec.encoding, width, result.text, firstBad);
    if (firstBad) {
        firstBad->fileOffset += bomLength;
    }
    codec.lineEnds = DetectLineEnds(result.text);
    // What an unedited save writes back: everything before a NUL. (Bytes
    // that became the text whole are not looked at again.)
    std::string_view kept = bytes.substr(0, result.nulOffset.value_or(bytes.size()));
    // Legacy tables can map several byte sequences to one character: check they come back.
    if (exact && width == 1 && codec.encoding != "UTF-8") {
        EncodeResult again = EncodeText(result.text, codec);
        exact = again.ok() && again.bytes == kept;
    }
    codec.fault = FaultOf(result, width, firstBad);
    if (!exact) {
        codec.originalBytes = std::string(kept);
    }
    if (!exact || codec.fault) {
        codec.decodedHash = HashText(result.text);
        codec.decodedSize = result.text.size();
    }
    return result;
}

}  // namespace

EncodeResult EncodeText(std::string_view text, const TextCodec& codec) {
    EncodeResult result;
    if (codec.originalBytes && IsDecodedText(codec, text)) {
        result.bytes = *codec.originalBytes;
        return result;
    }
    std::string converted;
    if (codec.lineEnds == LineEnds::CrLf && HasLoneLf(text)) {
        converted = ApplyLineEnds(text, LineEnds::CrLf);
        text = converted;
    }
    if (IsUtf8Name(codec.encoding)) {
        result.bytes.reserve(text.size() + kUtf8Bom.size());
        if (codec.bom) {
            result.bytes = kUtf8Bom;
        }
        result.bytes.append(text);
        return result;
    }
    result.bytes = EncodeWithIconv(text, codec.encoding, codec.bom, result.error);
    return result;
}

}  // namespace quorrel
