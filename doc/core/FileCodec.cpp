#include "doc/core/FileCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <utility>

namespace quorrel {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr std::size_t kAbort = static_cast<std::size_t>(-1);

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool NameIs(std::string_view name, std::string_view upper) {
    return name.size() == upper.size() &&
           std::equal(name.begin(), name.end(), upper.begin(),
                      [](char a, char b) { return AsciiUpper(a) == b; });
}

bool NameStartsWith(std::string_view name, std::string_view upper) {
    return name.size() >= upper.size() && NameIs(name.substr(0, upper.size()), upper);
}

bool IsUtf8Name(std::string_view name) {
    return NameIs(name, "UTF-8") || NameIs(name, "UTF8");
}

// Names whose characters are wider than a byte cannot have been read as 8-bit text.
bool IsWideName(std::string_view name) {
    return NameStartsWith(name, "UTF-16") || NameStartsWith(name, "UTF16") ||
           NameStartsWith(name, "UTF-32") || NameStartsWith(name, "UTF32") ||
           NameStartsWith(name, "UCS-2") || NameStartsWith(name, "UCS2") ||
           NameStartsWith(name, "UCS-4") || NameStartsWith(name, "UCS4") || NameIs(name, "UNICODE");
}

bool IsUnicodeName(std::string_view name) {
    return NameStartsWith(name, "UTF") || NameStartsWith(name, "UCS");
}

// XML's EncName; also keeps iconv suffixes such as //TRANSLIT out.
bool IsEncodingName(std::string_view name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
    });
}

struct Iconv {
    iconv_t cd;
    Iconv(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(cd);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

bool IconvSupports(const std::string& name) {
    return Iconv("UTF-8", name.c_str()).ok() && Iconv(name.c_str(), "UTF-8").ok();
}

// Growable output without zero-filling on every append.
struct Output {
    std::string buf;
    std::size_t used = 0;

    char* Space(std::size_t atLeast) {
        if (buf.size() - used < atLeast) {
            buf.resize(std::max(buf.size() * 2, used + atLeast));
        }
        return buf.data() + used;
    }
    void Put(std::string_view s) {
        std::memcpy(Space(s.size()), s.data(), s.size());
        used += s.size();
    }
    std::string Take() {
        buf.resize(used);
        return std::move(buf);
    }
};

// Runs iconv over all of `in`. onBad(offset, truncated) handles a sequence it
// cannot convert and returns the input bytes to skip, or kAbort.
template <class OnBad>
bool Convert(iconv_t cd, std::string_view in, Output& out, std::size_t& irreversible,
             OnBad&& onBad) {
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    std::size_t room = 64;
    // glibc reconverts the whole call's input to locate a bad sequence, so after
    // one the input goes in small chunks that grow again while they convert cleanly.
    std::size_t chunk = left;
    while (true) {
        char* dst = out.Space(room);
        room = out.buf.size() - out.used;
        std::size_t take = std::min(left, chunk);
        std::size_t held = left - take;
        std::size_t r = iconv(cd, &src, &take, &dst, &room);
        left = held + take;
        out.used = dst - out.buf.data();
        if (r != static_cast<std::size_t>(-1)) {
            irreversible += r;
            if (left == 0) {
                return true;
            }
            chunk *= 2;
            continue;
        }
        if (errno == E2BIG) {
            room = out.buf.size() - out.used + out.buf.size() + 64;
            continue;
        }
        if (errno == EINVAL && held > 0) {  // the chunk ends inside a character
            chunk *= 2;
            continue;
        }
        if (errno != EILSEQ && errno != EINVAL) {
            return false;
        }
        std::size_t at = src - in.data();
        std::size_t skip = onBad(at, errno == EINVAL);
        if (skip == kAbort || skip == 0) {
            return false;
        }
        skip = std::min(skip, left);
        src += skip;
        left -= skip;
        room = 64;
        chunk = 64;
    }
}

bool ConvertAll(iconv_t cd, std::string_view in, Output& out) {
    std::size_t irreversible = 0;
    return Convert(cd, in, out, irreversible, [](std::size_t, bool) { return kAbort; });
}

// Writes the shift sequence that returns a stateful encoding to its initial state.
bool Flush(iconv_t cd, Output& out) {
    std::size_t room = 64;
    while (true) {
        char* dst = out.Space(room);
        room = out.buf.size() - out.used;
        std::size_t r = iconv(cd, nullptr, nullptr, &dst, &room);
        out.used = dst - out.buf.data();
        if (r != static_cast<std::size_t>(-1)) {
            return true;
        }
        if (errno != E2BIG) {
            return false;
        }
        room = out.buf.size() + 64;
    }
}

struct Utf8Step {
    char32_t cp;
    std::size_t len;  // for an invalid sequence: its maximal invalid prefix, at least 1
    bool valid;
};

Utf8Step NextUtf8(std::string_view s, std::size_t i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        return {c, 1, true};
    }
    std::size_t need;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;  // overlongs and surrogates are cut off here
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        cp = c & 0x0F;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        cp = c & 0x07;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {0xFFFD, 1, false};
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size()) {
            return {0xFFFD, k, false};
        }
        auto b = static_cast<unsigned char>(s[i + k]);
        if (b < lo || b > hi) {
            return {0xFFFD, k, false};
        }
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    return {cp, need + 1, true};
}

// The first sequence a decoder could not read.
struct BadBytes {
    std::size_t fileOffset = 0;  // in the bytes decoded
    std::size_t textOffset = 0;  // where its U+FFFD stands in the text
    std::string bytes;           // a few of them, for the message
};

// Returns true when the bytes were valid UTF-8 (then text is a plain copy).
// owned, when given, holds exactly the bytes of in: valid, they become the text.
bool DecodeUtf8(std::string_view in, std::string& text, std::optional<BadBytes>& firstBad,
                std::string* owned = nullptr) {
    bool exact = true;
    std::size_t copied = 0;
    std::size_t i = 0;
    while (i < in.size()) {
        if (static_cast<unsigned char>(in[i]) < 0x80) {
            ++i;
            continue;
        }
        Utf8Step step = NextUtf8(in, i);
        if (!step.valid) {
            if (exact) {
                text.reserve(in.size() + 16);
                exact = false;
            }
            text.append(in.substr(copied, i - copied));
            if (!firstBad) {
                firstBad = BadBytes{i, text.size(), std::string(in.substr(i, 4))};
            }
            text.append(kReplacement);
            copied = i + step.len;
        }
        i += step.len;
    }
    if (exact && owned != nullptr) {
        text = std::move(*owned);
    } else if (exact) {
        text.assign(in);
    } else {
        text.append(in.substr(copied));
    }
    return exact;
}

bool DecodeWithIconv(std::string_view in, const std::string& encoding, std::size_t width,
                     std::string& text, std::optional<BadBytes>& firstBad) {
    Iconv conv("UTF-8", encoding.c_str());
    Output out;
    out.Space(in.size() + in.size() / 2 + 16);
    bool exact = true;
    std::size_t irreversible = 0;
    Convert(conv.cd, in, out, irreversible, [&](std::size_t at, bool truncated) {
        exact = false;
        std::size_t skip = truncated ? in.size() - at : width;
        if (!firstBad) {
            firstBad = BadBytes{at, out.used, std::string(in.substr(at, 4))};
        }
        out.Put(kReplacement);
        return skip;
    });
    text = out.Take();
    return exact && irreversible == 0;
}

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

// Where an unencodable character stands decides whether a character reference may replace it.
enum class Where { Content, AttrValue, Name, Comment, Pi, CData, Doctype };

// Scans forward only, so many unencodable characters cost one pass over the text.
class ContextScanner {
public:
    explicit ContextScanner(std::string_view text) : text_(text) {}

    Where At(std::size_t pos, std::size_t& line) {
        for (; linePos_ < pos; ++linePos_) {
            char c = text_[linePos_];
            if (c == '\n' ||
                (c == '\r' && (linePos_ + 1 == text_.size() || text_[linePos_ + 1] != '\n'))) {
                ++line_;
            }
        }
        line = line_;
        while (pos_ < pos) {
            Step();
        }
        switch (state_) {
            case State::Content:
                return Where::Content;
            case State::Tag:
                return Where::Name;
            case State::TagQuote:
                return Where::AttrValue;
            case State::Comment:
                return Where::Comment;
            case State::Pi:
                return Where::Pi;
            case State::CData:
                return Where::CData;
            default:
                return Where::Doctype;
        }
    }

private:
    enum class State {
        Content,
        Tag,
        TagQuote,
        Comment,
        Pi,
        CData,
        Decl,
        DeclQuote,
        Subset,
        SubsetComment,
        SubsetPi
    };

    bool Sees(std::string_view s) const { return text_.substr(pos_).starts_with(s); }

    void Enter(State s, std::size_t skip) {
        state_ = s;
        pos_ += skip;
    }

    void Step() {
        char c = text_[pos_];
        bool quote = c == '"' || c == '\'';
        switch (state_) {
            case State::Content:
                if (c != '<') {
                    return Enter(State::Content, 1);
                }
                if (Sees("<!--")) {
                    return Enter(State::Comment, 4);
                }
                if (Sees("<![CDATA[")) {
                    return Enter(State::CData, 9);
                }
                if (Sees("<?")) {
                    return Enter(State::Pi, 2);
                }
                return Enter(Sees("<!") ? State::Decl : State::Tag, Sees("<!") ? 2 : 1);
            case State::Comment:
                return Sees("-->") ? Enter(State::Content, 3) : Enter(state_, 1);
            case State::CData:
                return Sees("]]>") ? Enter(State::Content, 3) : Enter(state_, 1);
            case State::Pi:
                return Sees("?>") ? Enter(State::Content, 2) : Enter(state_, 1);
            case State::SubsetComment:
                return Sees("-->") ? Enter(State::Subset, 3) : Enter(state_, 1);
            case State::SubsetPi:
                return Sees("?>") ? Enter(State::Subset, 2) : Enter(state_, 1);
            case State::Tag:
                quote_ = c;
                return Enter(quote ? State::TagQuote : c == '>' ? State::Content : state_, 1);
            case State::TagQuote:
                return Enter(c == quote_ ? State::Tag : state_, 1);
            case State::Decl:
                quoteReturn_ = State::Decl;
                quote_ = c;
                return Enter(quote      ? State::DeclQuote
                             : c == '[' ? State::Subset
                             : c == '>' ? State::Content
                                        : state_,
                             1);
            case State::DeclQuote:
                return Enter(c == quote_ ? quoteReturn_ : state_, 1);
            case State::Subset:
                if (Sees("<!--")) {
                    return Enter(State::SubsetComment, 4);
                }
                if (Sees("<?")) {
                    return Enter(State::SubsetPi, 2);
                }
                quoteReturn_ = State::Subset;
                quote_ = c;
                return Enter(quote ? State::DeclQuote : c == ']' ? State::Decl : state_, 1);
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    State state_ = State::Content;
    State quoteReturn_ = State::Decl;
    char quote_ = '"';
    std::size_t linePos_ = 0;
    std::size_t line_ = 1;
};

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

std::string Unencodable(std::size_t line, char32_t cp, const std::string& encoding, Where where) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    return "Line " + std::to_string(line) + ": the character " + code + " cannot be written in " +
           encoding + " " + Describe(where) + ". Use a different encoding or remove the character.";
}

std::string EncodeWithIconv(std::string_view text, const std::string& encoding, bool bom,
                            std::string& error) {
    // Bare UTF-16/32 need a BOM to be read back; write little-endian with one.
    std::string target = encoding;
    if (NameIs(encoding, "UTF-16") || NameIs(encoding, "UTF-32")) {
        target += "LE";
        bom = true;
    }
    Iconv conv(target.c_str(), "UTF-8");
    if (!conv.ok()) {
        error = "The encoding " + encoding + " is not supported.";
        return "";
    }
    Output out;
    out.Space(text.size() * (IsUnicodeName(target) ? 2 : 1) + 16);
    if (bom && IsUnicodeName(target) && !ConvertAll(conv.cd, kUtf8Bom, out)) {
        error = "The byte-order mark cannot be written in " + encoding + ".";
        return "";
    }
    ContextScanner scanner(text);
    std::size_t irreversible = 0;
    bool done = Convert(conv.cd, text, out, irreversible, [&](std::size_t at, bool) {
        Utf8Step step = NextUtf8(text, at);
        // Text that is not valid UTF-8 is written as U+FFFD.
        if (!step.valid && ConvertAll(conv.cd, kReplacement, out)) {
            return step.len;
        }
        std::size_t line = 1;
        Where where = scanner.At(at, line);
        if (where == Where::Content || where == Where::AttrValue) {
            if (ConvertAll(conv.cd, "&#" + std::to_string(step.cp) + ";", out)) {
                return step.len;
            }
        }
        error = Unencodable(line, step.cp, encoding, where);
        return kAbort;
    });
    if (!done || !Flush(conv.cd, out)) {
        if (error.empty()) {
            error = "The text cannot be converted to " + encoding + ".";
        }
        return "";
    }
    return out.Take();
}

// 0666 & ~umask, without changing the process umask other threads rely on.
mode_t NewFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Umask:")) {
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
    }
    return 0644;
}

FileStamp StampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtimeSeconds = st.st_mtim.tv_sec;
    stamp.mtimeNanoseconds = st.st_mtim.tv_nsec;
    return stamp;
}

// Follows symbolic links to the file a path finally names, also when that
// file does not exist yet (a save creates it). Returns 0 or an errno value.
int FollowLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return 0;
        }
        std::string to(PATH_MAX, '\0');
        ssize_t n = readlink(path.c_str(), to.data(), to.size());
        if (n < 0) {
            return errno;
        }
        to.resize(static_cast<std::size_t>(n));
        if (!to.starts_with('/')) {
            std::size_t slash = path.rfind('/');
            to.insert(0, slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
        }
        path = std::move(to);
    }
    return ELOOP;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), 1 << 30));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// Line and column (1-based, in characters) of a byte offset in UTF-8 text;
// CR LF and a lone CR end a line as LF does.
std::pair<long, long> LineAndColumn(std::string_view text, std::size_t offset) {
    long line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            ++line;
            lineStart = i + 1;
        }
    }
    long column = 1;
    for (std::size_t i = lineStart; i < offset && i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return {line, column};
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
    auto [line, column] = LineAndColumn(result.text, firstBad->textOffset);
    DecodeFault fault;
    fault.line = line;
    fault.column = column;
    fault.invalidBytes = true;
    fault.reason = "Bytes not valid in " + codec.encoding + " at byte " +
                   std::to_string(firstBad->fileOffset) + ": " + HexBytes(firstBad->bytes);
    return fault;
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

namespace {

// A descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void Reset(int f = -1) {
        if (fd >= 0) {
            close(fd);
        }
        fd = f;
    }
    int Release() { return std::exchange(fd, -1); }
};

constexpr std::size_t kTempTail = 6;  // the random letters of ".NAME.XXXXXX"

bool IsTempTail(std::string_view tail) {
    return tail.size() == kTempTail && std::all_of(tail.begin(), tail.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c));
           });
}

std::string RandomTail() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[kTempTail];
    if (getentropy(raw, sizeof raw) != 0) {
        for (unsigned char& c : raw) {
            c = static_cast<unsigned char>(std::rand());
        }
    }
    std::string tail;
    for (unsigned char c : raw) {
        tail += kLetters[c % (sizeof kLetters - 1)];
    }
    return tail;
}

// Temporary files of earlier saves of this file that were killed before the
// rename: ours by name and owner, older than this save, and locked by no save
// under way (each holds a lock on its temporary file while it writes).
void RemoveStaleTemps(const std::string& folder, const std::string& name,
                      const struct timespec& started) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::string prefix = "." + name + ".";
    while (const dirent* entry = readdir(dir)) {
        std::string_view entryName(entry->d_name);
        if (!entryName.starts_with(prefix) || !IsTempTail(entryName.substr(prefix.size()))) {
            continue;
        }
        struct stat st {};
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
            std::pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec) >=
                std::pair(started.tv_sec, started.tv_nsec)) {
            continue;
        }
        Fd fd(openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.fd >= 0 && flock(fd.fd, LOCK_EX | LOCK_NB) == 0) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    closedir(dir);
}

// The new content's file in the folder: unnamed (O_TMPFILE) where the file
// system has them, so that a save killed half-way leaves nothing; else a
// named ".NAME.XXXXXX". Returns the descriptor, or -errno.
int CreateTemp(const std::string& folder, const std::string& name, std::string& named) {
    named.clear();
    int fd = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return fd;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return -errno;
    }
    named = folder + "." + name + ".XXXXXX";
    fd = mkostemp(named.data(), O_CLOEXEC);
    if (fd < 0) {
        named.clear();
        return -errno;
    }
    return fd;
}

// Gives the finished unnamed file a temporary name beside the target.
int NameTemp(int fd, const std::string& folder, const std::string& name, std::string& named) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int tries = 0; tries < 100; ++tries) {
        named = folder + "." + name + "." + RandomTail();
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return 0;
        }
        if (errno != EEXIST) {
            named.clear();
            return errno;
        }
    }
    named.clear();
    return EEXIST;
}

int CopyAll(int from, int to) {
    char buffer[1 << 16];
    while (true) {
        ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno;
        }
        if (n == 0) {
            return 0;
        }
        if (int err = WriteAll(to, std::string_view(buffer, static_cast<std::size_t>(n)));
            err != 0) {
            return err;
        }
    }
}

// Writes through the existing file, so that it keeps its links, owner, mode
// and kind. A regular file's old content is copied beside it first; the copy
// goes once the new content is safely written, or is named in the message.
std::string WriteInPlace(const std::string& path, const std::string& target, bool regular,
                         std::string_view bytes, FileStamp* written, int& code) {
    auto fail = [&](int err) {
        code = err;
        return "Cannot write '" + path + "': " + std::strerror(err);
    };
    // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting.
    Fd out(open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (out.fd < 0) {
        return fail(errno);
    }
    if (int flags = fcntl(out.fd, F_GETFL);
        flags < 0 || fcntl(out.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return fail(errno);
    }
    if (!regular) {
        int err = WriteAll(out.fd, bytes);
        return err == 0 ? "" : fail(err);
    }
    std::string copy = target + ".old-XXXXXX";
    Fd saved(mkostemp(copy.data(), O_CLOEXEC));
    if (saved.fd < 0) {
        code = errno;
        return "Cannot write '" + path +
               "': no copy of its old content can be made beside it: " + std::strerror(code);
    }
    Fd old(open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    int err = old.fd < 0 ? errno : CopyAll(old.fd, saved.fd);
    if (err == 0 && fsync(saved.fd) != 0) {
        err = errno;
    }
    if (err != 0) {
        unlink(copy.c_str());
        code = err;
        return "Cannot write '" + path +
               "': no copy of its old content can be made beside it: " + std::strerror(err);
    }
    // Over the old bytes first: a full disk hits only the part that grows.
    err = WriteAll(out.fd, bytes);
    if (err == 0 && ftruncate(out.fd, static_cast<off_t>(bytes.size())) != 0) {
        err = errno;
    }
    if (err == 0 && fsync(out.fd) != 0) {
        err = errno;
    }
    if (err != 0) {
        return fail(err) + "\nIts old content is kept in '" + copy + "'.";
    }
    struct stat done {};
    if (written != nullptr && fstat(out.fd, &done) == 0) {
        *written = StampOf(done);
    }
    unlink(copy.c_str());
    return "";
}

}  // namespace

std::string WriteFileAtomically(const std::string& path, std::string_view bytes, FileStamp* written,
                                int* failure) {
    int code = 0;
    auto fail = [&](int err) {
        code = err;
        return "Cannot write '" + path + "': " + std::strerror(err);
    };
    auto done = [&](std::string error) {
        if (failure != nullptr) {
            *failure = error.empty() ? 0 : (code != 0 ? code : EIO);
        }
        return error;
    };
    struct timespec started {};
    clock_gettime(CLOCK_REALTIME, &started);
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    // The file's own mode decides, not only its folder's.
    if (exists && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        return done(fail(errno));
    }
    // Write through a symlink so the link itself stays.
    std::string target = path;
    if (int err = FollowLinks(target); err != 0) {
        return done(fail(err));
    }
    struct stat resolved {};
    const bool sameFile = exists && stat(target.c_str(), &resolved) == 0 &&
                          resolved.st_dev == st.st_dev && resolved.st_ino == st.st_ino;
    // A FIFO, a device, a file reached through /proc/self/fd, or one with more
    // names than this: replacing it would not write what the path names.
    if (exists && (!S_ISREG(st.st_mode) || !sameFile || st.st_nlink > 1)) {
        if (S_ISDIR(st.st_mode)) {
            return done(fail(EISDIR));
        }
        return done(WriteInPlace(path, target, S_ISREG(st.st_mode), bytes, written, code));
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : NewFileMode();
    std::size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string name = target.substr(folder.size());
    RemoveStaleTemps(folder, name, started);

    std::string temp;
    int created = CreateTemp(folder, name, temp);
    if (created < 0) {
        return done(fail(-created));
    }
    Fd fd(created);
    auto drop = [&] {
        if (!temp.empty()) {
            unlink(temp.c_str());
        }
    };
    flock(fd.fd, LOCK_EX);  // a stale-file sweep of another save leaves it alone
    struct stat mine {};
    if (exists && fstat(fd.fd, &mine) == 0 &&
        (mine.st_uid != st.st_uid || mine.st_gid != st.st_gid) &&
        fchown(fd.fd, st.st_uid, st.st_gid) != 0) {
        // The replacement would belong to someone else: keep the file itself.
        fd.Reset();
        drop();
        return done(WriteInPlace(path, target, true, bytes, written, code));
    }
    int err = WriteAll(fd.fd, bytes);
    // After the owner: a change of owner clears the setuid and setgid bits.
    if (err == 0 && fchmod(fd.fd, mode) != 0) {
        err = errno;
    }
    if (err == 0 && fsync(fd.fd) != 0) {
        err = errno;
    }
    struct stat finished {};
    if (err == 0 && written != nullptr && fstat(fd.fd, &finished) == 0) {
        *written = StampOf(finished);  // naming and renaming keep inode and times
    }
    if (err == 0 && temp.empty()) {
        err = NameTemp(fd.fd, folder, name, temp);
    }
    if (err == 0 && rename(temp.c_str(), target.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        drop();
        return done(fail(err));
    }
    // Make the rename itself durable.
    Fd dirFd(open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.fd >= 0) {
        fsync(dirFd.fd);
    }
    return done("");
}

FileStamp StampOfFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? StampOf(st) : FileStamp();
}

std::uint64_t MaxDocumentBytes() {
    const char* value = std::getenv("QUORREL_MAX_DOCUMENT_BYTES");
    if (value == nullptr || *value == '\0') {
        return kMaxDocumentBytes;
    }
    std::string_view text(value);
    std::uint64_t bytes = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    // The parser takes no more than 2 GB anyway.
    bool usable = error == std::errc() && end == text.data() + text.size() && bytes > 0 &&
                  bytes <= std::uint64_t(INT_MAX);
    return usable ? bytes : kMaxDocumentBytes;
}

std::string ByteLimitText(std::uint64_t bytes) {
    constexpr std::uint64_t kMegabyte = 1024 * 1024;
    return bytes % kMegabyte == 0 ? std::to_string(bytes / kMegabyte) + " MB"
                                  : std::to_string(bytes) + " bytes";
}

std::string ReadWholeFile(const std::string& path, std::string& bytes, FileStamp* stamp,
                          std::uint64_t maxBytes) {
    bytes.clear();
    auto fail = [&](const std::string& why) {
        bytes.clear();
        bytes.shrink_to_fit();
        return "Cannot read '" + path + "': " + why;
    };
    const std::string tooLarge = "the file is larger than " + ByteLimitText(maxBytes) + ".";
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return fail(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return fail(std::strerror(EISDIR));
    }
    if (!S_ISREG(st.st_mode)) {
        return fail("it is not a regular file");
    }
    if (std::uint64_t(st.st_size) > maxBytes) {
        return fail(tooLarge);
    }
    // The size is only a hint: the file may grow (or be a /proc file that
    // says 0), so reading stops one byte past the limit.
    const std::uint64_t stopAt =
        std::min<std::uint64_t>(maxBytes, std::numeric_limits<std::size_t>::max() / 2) + 1;
    bytes.resize(std::size_t(std::min<std::uint64_t>(std::uint64_t(st.st_size) + 1, stopAt)));
    std::size_t used = 0;
    while (used < stopAt) {
        if (used == bytes.size()) {
            bytes.resize(
                std::size_t(std::min<std::uint64_t>(std::uint64_t(bytes.size()) * 2, stopAt)));
        }
        ssize_t n = read(fd, bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    if (used > maxBytes) {
        return fail(tooLarge);
    }
    bytes.resize(used);
    if (stamp != nullptr && fstat(fd, &st) == 0) {
        *stamp = StampOf(st);
    }
    return "";
}

}  // namespace quorrel
