#include "doc/core/Doc.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>

namespace quorrel {

namespace {

// The encoding the text's own declaration names now, if the user changed it
// since the file was read: the store must then follow the declaration.
TextCodec CodecForDeclaration(std::string_view text, const TextCodec& current) {
    DecodedFile sniffed = DecodeFileBytes(text.substr(0, std::min<std::size_t>(text.size(), 1024)));
    if (strcasecmp(sniffed.codec.declared.c_str(), current.declared.c_str()) == 0) {
        return current;
    }
    TextCodec codec;
    codec.encoding = sniffed.codec.encoding;
    codec.declared = sniffed.codec.declared;
    codec.lineEnds = current.lineEnds;
    codec.bom = current.bom && codec.encoding.starts_with("UTF-");
    if (strcasecmp(codec.declared.c_str(), "UTF-16BE") == 0 || strcasecmp(codec.declared.c_str(), "UTF-16LE") == 0) {
        // The name fixes the byte order, and such a file carries no byte-order mark.
        codec.encoding = strcasecmp(codec.declared.c_str(), "UTF-16BE") == 0 ? "UTF-16BE" : "UTF-16LE";
        codec.bom = false;
    } else if (strncasecmp(codec.declared.c_str(), "UTF-16", 6) == 0) {
        // Plain UTF-16 needs a byte-order mark to be read back.
        codec.encoding = "UTF-16LE";
        codec.bom = true;
    }
    return codec;
}

}  // namespace

CDoc::CDoc(MessageSink& sink) : m_sink(sink) {}

CDoc::~CDoc() = default;

std::string CDoc::ParseErrorMessage(std::string_view reason, std::string_view lastHintLine) {
    std::string text = "XML DOM Parse Error:\n";
    text += reason;
    text += "\nHint:";
    text += "\n Turn the DTD/Schema validation button - V - on the toolbar off.";
    text += lastHintLine;
    return text;
}

LoadOptions CDoc::ParseOptions(const std::string& path) const {
    LoadOptions options;
    options.validateOnParse = m_bValidateOnParse;
    options.baseUrl = path.empty() ? std::string() : std::filesystem::absolute(path).string();
    return options;
}

bool CDoc::OnNewDocument() {
    m_strPathName.clear();
    m_bModified = false;
    m_strText.clear();
    m_strLastUrl = "http://";
    m_bValidateOnParse = true;
    m_codec = TextCodec();
    m_pDomDoc.reset();
    return true;
}

LoadResult CDoc::OnOpenDocument(const std::string& path) {
    LoadResult result;
    std::string bytes;
    result.error = ReadWholeFile(path, bytes);
    if (!result.error.empty()) {
        return result;
    }
    DecodedFile decoded = DecodeFileBytes(bytes);
    bytes.clear();
    bytes.shrink_to_fit();

    auto dom = std::make_unique<XmlDocument>();
    if (!decoded.text.empty()) {
        dom->loadXML(decoded.text, ParseOptions(path));
    }
    result.opened = true;
    result.nulOffset = decoded.nulOffset;
    result.parsed = !decoded.text.empty() && dom->parseError().line == 0;

    m_strText = std::move(decoded.text);
    m_codec = std::move(decoded.codec);
    m_pDomDoc = std::move(dom);
    m_strPathName = path;
    m_bTextChanged = false;
    if (!m_strText.empty() && m_pDomDoc->parseError().line > 0) {
        m_sink.ShowMessage(ParseErrorMessage(m_pDomDoc->parseError().reason));
    }
    m_bModified = false;
    return result;
}

std::string CDoc::OnSaveDocument(const std::string& path, std::string_view viewText) {
    TextCodec codec = CodecForDeclaration(viewText, m_codec);
    EncodeResult encoded = EncodeText(viewText, codec);
    if (!encoded.ok()) {
        return "Cannot save '" + path + "':\n" + encoded.error;
    }
    std::string error = WriteFileAtomically(path, encoded.bytes);
    if (!error.empty()) {
        return error;
    }
    m_codec = std::move(codec);
    m_strPathName = path;
    m_bModified = false;
    return {};
}

bool CDoc::ReparseDocument(std::string_view lastHintLine) {
    m_pDomDoc = std::make_unique<XmlDocument>();
    if (m_strText.empty()) {
        return false;
    }
    if (m_pDomDoc->loadXML(m_strText, ParseOptions(m_strPathName))) {
        return true;
    }
    m_sink.ShowMessage(ParseErrorMessage(m_pDomDoc->parseError().reason, lastHintLine));
    return false;
}

bool CDoc::RestoreDomFromText() {
    auto dom = std::make_unique<XmlDocument>();
    bool parsed = !m_strText.empty() && dom->loadXML(m_strText, ParseOptions(m_strPathName));
    m_pDomDoc = std::move(dom);
    return parsed;
}

void CDoc::OnTextChanged(std::string text) {
    m_strText = std::move(text);
    m_bTextChanged = true;
    m_bModified = true;
}

void CDoc::AddView(CDocView* view) { m_views.push_back(view); }

void CDoc::RemoveView(CDocView* view) { std::erase(m_views, view); }

void CDoc::UpdateAllViews(CDocView* sender) {
    for (CDocView* view : m_views) {
        if (view != sender) {
            view->OnUpdate(sender);
        }
    }
}

}  // namespace quorrel
