// Turns a file's bytes into the editor's UTF-8 document text and back, so that
// an unedited document saves byte for byte as it was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorrel {

enum class LineEnds {
    Lf,    // every line end is LF (or the text has none)
    CrLf,  // every line end is CR LF
    Mixed  // anything else: written exactly as the text holds them
};

// Why the bytes are not well-formed text in their encoding: the parse fails
// there, as XML requires, while the text stays shown and editable.
struct DecodeFault {
    long line = 1;    // 1-based, in the decoded text
    long column = 0;  // 1-based characters; 0 when it is about the declaration
    std::string reason;
    bool invalidBytes = false;  // bytes became U+FFFD (not only a declaration that cannot be used)
};

// How a file was encoded, learnt on load and used again on store.
struct TextCodec {
    std::string encoding =
        "UTF-8";           // iconv name actually used: "UTF-8", "UTF-16LE", "ISO-8859-1", ...
    std::string declared;  // encoding named in the XML declaration, empty if none
    bool bom = false;      // the file began with a byte-order mark
    LineEnds lineEnds = LineEnds::Lf;

    // Set when decoding was not exact (bytes invalid in the encoding): the
    // original bytes are kept and written back while the text is unchanged.
    std::optional<std::string> originalBytes;
    std::uint64_t decodedHash = 0;  // hash of the decoded text, to recognise "unchanged"
    std::size_t decodedSize = 0;
    // Set when the bytes are not well-formed in the encoding; holds while the text is unchanged.
    std::optional<DecodeFault> fault;
};

// Whether text is still the text the codec decoded (its size and hash).
bool IsDecodedText(const TextCodec& codec, std::string_view text);

struct DecodedFile {
    std::string text;  // UTF-8, cut at the first NUL character
    TextCodec codec;
    // Byte offset in the file of the first NUL character, if the text was cut there.
    std::optional<std::size_t> nulOffset;
};

// Detects the encoding as XML does (BOM, then the encoding declaration,
// default UTF-8) and decodes. Never fails: undecodable bytes become U+FFFD
// and the codec's fault says where the first one was; a declared encoding
// that cannot be used is read as UTF-8, with a fault naming it.
DecodedFile DecodeFileBytes(std::string_view bytes);
// The same, taking the bytes: valid UTF-8 as it stands becomes the text without a copy.
DecodedFile DecodeOwnedFileBytes(std::string&& bytes);

struct EncodeResult {
    std::string bytes;  // valid when error is empty
    std::string error;  // e.g. "Line 12: the character U+20AC cannot be written in ISO-8859-1
                        // inside a comment."
    bool ok() const { return error.empty(); }
};

// Encodes the UTF-8 text for the file, with the codec's encoding, BOM and
// line-end style. A character the encoding cannot hold becomes a character
// reference where XML allows one (text, attribute values); elsewhere the
// encode fails with a message naming the line.
EncodeResult EncodeText(std::string_view text, const TextCodec& codec);

// Converts LF line ends to the codec's style (CrLf only; Lf and Mixed leave the text alone).
std::string ApplyLineEnds(std::string_view text, LineEnds style);

// Which file a path names and how it stood, so that a change or a
// replacement by another program can be noticed.
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, mtimeSeconds = 0, mtimeNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

// The file's stamp now, through symbolic links; exists is false when there is none.
FileStamp StampOfFile(const std::string& path);

// Writes bytes to a new file in the target's folder and renames it over the
// target; on failure the old file is intact. A symbolic link stays and its
// target is written. A file the user may not write is refused; one whose
// replacement would lose a hard link, its owner or group, or its kind (FIFO,
// device) is written through instead, after a copy of its old content was made
// beside it. Returns an empty string on success, else a message with the
// system's reason. written, if given, receives the new file's stamp; failure
// the errno value of the failure (0 on success).
std::string WriteFileAtomically(const std::string& path, std::string_view bytes,
                                FileStamp* written = nullptr, int* failure = nullptr);

// The most bytes a document, DTD, entity or schema may have, from a file or a URL.
constexpr std::uint64_t kMaxDocumentBytes = 256ULL * 1024 * 1024;
// kMaxDocumentBytes, or QUORREL_MAX_DOCUMENT_BYTES when that holds a number
// from 1 to 2^31 - 1.
std::uint64_t MaxDocumentBytes();
// "256 MB" when a whole number of megabytes, else "N bytes".
std::string ByteLimitText(std::uint64_t bytes);

// Reads a whole regular file of at most maxBytes bytes, also when it grows
// while it is read. Returns an empty error on success, else the system's
// reason. stamp, if given, receives the stamp of the file read.
std::string ReadWholeFile(const std::string& path, std::string& bytes, FileStamp* stamp = nullptr,
                          std::uint64_t maxBytes = MaxDocumentBytes());

}  // namespace quorrel
