// Conversion between UTF-8 and a file's encoding, through iconv: encoding
// names, the UTF-8 decoder, and the encoder that turns what an encoding
// cannot hold into character references where XML allows them.
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "doc/core/FileCodecInternal.h"

namespace quorrel {

using codec_detail::BadBytes;
using codec_detail::kAbort;
using codec_detail::kReplacement;
using codec_detail::kUtf8Bom;
using codec_detail::Unencodable;
using codec_detail::Where;

namespace {

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

bool IsUnicodeName(std::string_view name) {
    return NameStartsWith(name, "UTF") || NameStartsWith(name, "UCS");
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

}  // namespace

namespace codec_detail {

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

// XML's EncName; also keeps iconv suffixes such as //TRANSLIT out.
bool IsEncodingName(std::string_view name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
    });
}

bool IconvSupports(const std::string& name) {
    return Iconv("UTF-8", name.c_str()).ok() && Iconv(name.c_str(), "UTF-8").ok();
}

// Returns true when the bytes were valid UTF-8 (then text is a plain copy).
// owned, when given, holds exactly the bytes of in: valid, they become the text.
bool DecodeUtf8(std::string_view in, std::string& text, std::optional<BadBytes>& firstBad,
                std::string* owned) {
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

}  // namespace codec_detail

}  // namespace quorrel
