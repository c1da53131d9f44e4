#include "views/source/core/Fold.h"

#include <algorithm>
#include <cstring>

namespace quorrel {

namespace {

bool IsNameStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

// Walks one line through the contexts, counting opens and closes.
class LineFolder {
public:
    LineFolder(std::string_view line, FoldState state)
        : m_line(line), m_context(state.context), m_depth(state.depth), m_minimum(state.depth) {}

    FoldedLine Run() {
        while (m_p < m_line.size()) {
            Step();
        }
        return {{m_context, m_depth}, m_minimum};
    }

private:
    void Step() {
        switch (m_context) {
            case FoldContext::Content:
                return InContent();
            case FoldContext::StartTag:
                return InStartTag();
            case FoldContext::StartTagDq:
                return Until('"', FoldContext::StartTag);
            case FoldContext::StartTagSq:
                return Until('\'', FoldContext::StartTag);
            case FoldContext::EndTag:
            case FoldContext::Markup:
                return Until('>', FoldContext::Content);
            case FoldContext::Comment:
                return UntilClose("-->", FoldContext::Content, true);
            case FoldContext::CData:
                return UntilClose("]]>", FoldContext::Content, true);
            case FoldContext::Pi:
                return UntilClose("?>", FoldContext::Content, false);
            case FoldContext::Doctype:
                return InDoctype();
            case FoldContext::DoctypeDq:
                return Until('"', FoldContext::Doctype);
            case FoldContext::DoctypeSq:
                return Until('\'', FoldContext::Doctype);
            case FoldContext::Subset:
                return InSubset();
            case FoldContext::SubsetDecl:
                return InSubsetDecl();
            case FoldContext::SubsetDeclDq:
                return Until('"', FoldContext::SubsetDecl);
            case FoldContext::SubsetDeclSq:
                return Until('\'', FoldContext::SubsetDecl);
            case FoldContext::SubsetComment:
                return UntilClose("-->", FoldContext::Subset, true);
            case FoldContext::SubsetPi:
                return UntilClose("?>", FoldContext::Subset, false);
            case FoldContext::AfterSubset:
                return Until('>', FoldContext::Content, true);
        }
        m_p = m_line.size();
    }

    bool At(std::size_t pos, std::string_view token) const {
        return m_line.substr(pos, token.size()) == token;
    }
    void Open() {
        if (m_depth < kMaxFoldDepth) {
            ++m_depth;
        }
    }
    void Close() {
        if (m_depth > 0) {
            --m_depth;
            m_minimum = std::min(m_minimum, m_depth);
        }
    }
    std::size_t Find(char c) const {
        const void* hit = std::memchr(m_line.data() + m_p, c, m_line.size() - m_p);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - m_line.data())
                   : m_line.size();
    }
    // Moves past the next c into context, closing one level when asked.
    void Until(char c, FoldContext context, bool close = false) {
        const std::size_t at = Find(c);
        m_p = std::min(at + 1, m_line.size());
        if (at < m_line.size()) {
            m_context = context;
            if (close) {
                Close();
            }
        }
    }
    void UntilClose(std::string_view token, FoldContext context, bool close) {
        for (;;) {
            const std::size_t at = Find(token[0]);
            if (at == m_line.size()) {
                m_p = at;
                return;
            }
            if (At(at, token)) {
                m_p = at + token.size();
                m_context = context;
                if (close) {
                    Close();
                }
                return;
            }
            m_p = at + 1;
        }
    }
    void InContent() {
        const std::size_t at = Find('<');
        if (at == m_line.size()) {
            m_p = at;
            return;
        }
        const unsigned char c = at + 1 < m_line.size() ? m_line[at + 1] : 0;
        m_p = at + 1;
        if (c == '/') {
            Close();
            m_context = FoldContext::EndTag;
            m_p = at + 2;
        } else if (c == '?') {
            m_context = FoldContext::Pi;
            m_p = at + 2;
        } else if (c == '!') {
            Bang(at);
        } else if (IsNameStart(c)) {
            // Counted from the '<', so a start tag over several lines folds from its first.
            Open();
            m_context = FoldContext::StartTag;
            m_p = at + 2;
        }
    }
    void Bang(std::size_t at) {
        if (At(at, "<!--")) {
            Open();
            m_context = FoldContext::Comment;
            m_p = at + 4;
        } else if (At(at, "<![CDATA[")) {
            Open();
            m_context = FoldContext::CData;
            m_p = at + 9;
        } else if (At(at, "<!DOCTYPE")) {
            Open();
            m_context = FoldContext::Doctype;
            m_p = at + 9;
        } else {
            m_context = FoldContext::Markup;
            m_p = at + 2;
        }
    }
    void InStartTag() {
        const std::size_t at = m_line.find_first_of("\"'>", m_p);
        if (at == std::string_view::npos) {
            m_p = m_line.size();
            return;
        }
        m_p = at + 1;
        if (m_line[at] == '"') {
            m_context = FoldContext::StartTagDq;
        } else if (m_line[at] == '\'') {
            m_context = FoldContext::StartTagSq;
        } else {
            // "/>" closes the element its '<' opened.
            if (at > 0 && m_line[at - 1] == '/') {
                Close();
            }
            m_context = FoldContext::Content;
        }
    }
    void InDoctype() {
        const std::size_t at = m_line.find_first_of("\"'[>", m_p);
        if (at == std::string_view::npos) {
            m_p = m_line.size();
            return;
        }
        m_p = at + 1;
        switch (m_line[at]) {
            case '"':
                m_context = FoldContext::DoctypeDq;
                break;
            case '\'':
                m_context = FoldContext::DoctypeSq;
                break;
            case '[':
                m_context = FoldContext::Subset;
                break;
            default:
                Close();
                m_context = FoldContext::Content;
        }
    }
    void InSubset() {
        const std::size_t at = m_line.find_first_of("]<", m_p);
        if (at == std::string_view::npos) {
            m_p = m_line.size();
            return;
        }
        m_p = at + 1;
        if (m_line[at] == ']') {
            m_context = FoldContext::AfterSubset;
        } else if (At(at, "<!--")) {
            Open();
            m_context = FoldContext::SubsetComment;
            m_p = at + 4;
        } else if (At(at, "<?")) {
            m_context = FoldContext::SubsetPi;
            m_p = at + 2;
        } else if (At(at, "<!")) {
            m_context = FoldContext::SubsetDecl;
            m_p = at + 2;
        }
    }
    void InSubsetDecl() {
        const std::size_t at = m_line.find_first_of("\"'>", m_p);
        if (at == std::string_view::npos) {
            m_p = m_line.size();
            return;
        }
        m_p = at + 1;
        if (m_line[at] == '"') {
            m_context = FoldContext::SubsetDeclDq;
        } else if (m_line[at] == '\'') {
            m_context = FoldContext::SubsetDeclSq;
        } else {
            m_context = FoldContext::Subset;
        }
    }

    std::string_view m_line;
    std::size_t m_p = 0;
    FoldContext m_context;
    std::uint32_t m_depth;
    std::uint32_t m_minimum;
};

constexpr int kScanBits = 1;
constexpr int kContextBits = 5;
constexpr int kDepthShift = kScanBits + kContextBits;
static_assert(kFoldContextCount <= (1 << kContextBits));
static_assert(kMaxFoldDepth <= (0x7FFFFFFFu >> kDepthShift));

}  // namespace

FoldedLine FoldLine(std::string_view line, FoldState state) {
    return LineFolder(line, state).Run();
}

int FoldLevel(const FoldedLine& folded) {
    constexpr std::uint32_t kDeepest = kFoldLevelNumberMask - kFoldLevelBase;
    const std::uint32_t low = std::min(folded.minimum, kDeepest);
    const std::uint32_t next = std::min(folded.next.depth, kDeepest);
    return (kFoldLevelBase + int(low)) | (next > low ? kFoldLevelHeaderFlag : 0);
}

int PackLineState(const LineState& state) {
    const std::uint32_t packed = static_cast<std::uint32_t>(state.scan) |
                                 static_cast<std::uint32_t>(state.fold.context) << kScanBits |
                                 state.fold.depth << kDepthShift;
    return static_cast<int>(packed);
}

LineState UnpackLineState(int packed) {
    const auto bits = static_cast<std::uint32_t>(packed);
    LineState state;
    state.scan = static_cast<ScanState>(bits & ((1u << kScanBits) - 1));
    const std::uint32_t context = (bits >> kScanBits) & ((1u << kContextBits) - 1);
    state.fold.context =
        context < kFoldContextCount ? static_cast<FoldContext>(context) : FoldContext::Content;
    state.fold.depth = std::min(bits >> kDepthShift, kMaxFoldDepth);
    return state;
}

std::vector<int> FoldLevels(std::string_view text) {
    std::vector<int> levels;
    LexLines(
        text, 0, text.size(), true, LineState{}, [](std::size_t, std::size_t, TextFormat) {},
        [&levels](std::size_t, int level, bool, const LineState&) { levels.push_back(level); });
    return levels;
}

}  // namespace quorrel
