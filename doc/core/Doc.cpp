#include "doc/core/Doc.h"

#include <strings.h>
#include <algorithm>
#include <filesystem>
#include <utility>

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
    if (strcasecmp(codec.declared.c_str(), "UTF-16BE") == 0 ||
        strcasecmp(codec.declared.c_str(), "UTF-16LE") == 0) {
        // The name fixes the byte order, and such a file carries no byte-order mark.
        codec.encoding =
            strcasecmp(codec.declared.c_str(), "UTF-16BE") == 0 ? "UTF-16BE" : "UTF-16LE";
        codec.bom = false;
    } else if (strncasecmp(codec.declared.c_str(), "UTF-16", 6) == 0) {
        // Plain UTF-16 needs a byte-order mark to be read back.
        codec.encoding = "UTF-16LE";
        codec.bom = true;
    }
    return codec;
}

// External resources of a fetched document come over the network with the same options.
ResourceFetcher NetworkFetcher(FetchOptions options) {
    return [options](const std::string& url, std::string& body, std::string& error) {
        FetchResult fetched = FetchUrl(url, options);
        body = std::move(fetched.body);
        error = std::move(fetched.error);
        return fetched.ok;
    };
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
    if (!m_strSourceUrl.empty()) {
        options.baseUrl = m_strSourceUrl;
        options.fetcher = NetworkFetcher(FetchOptions::FromEnvironment());
        return options;
    }
    options.baseUrl = path.empty() ? std::string() : std::filesystem::absolute(path).string();
    return options;
}

std::string CDoc::InvalidBytesWarning(const DecodeFault& fault, const std::string& encoding) {
    return "The file holds bytes that are not valid " + encoding + " (the first at line " +
           std::to_string(fault.line) + ", column " + std::to_string(fault.column) +
           "). They are shown as U+FFFD: saved before any edit the file is written back as it "
           "was, saved after an edit U+FFFD replaces those bytes.";
}

void CDoc::WarnUnreadDtds(const XmlDocument& dom) {
    std::string warning;
    for (const std::string& line : dom.unreadDtds()) {
        warning += (warning.empty() ? "" : "\n") + line;
    }
    if (!warning.empty() && warning != m_strDtdWarningShown) {
        m_strDtdWarningShown = warning;
        m_sink.ShowMessage(warning);
    }
}

bool CDoc::ParseText(XmlDocument& dom, std::string_view text, ShownNodeSink* shown) const {
    if (m_codec.fault && IsDecodedText(m_codec, text)) {
        const DecodeFault& fault = *m_codec.fault;
        dom.failLoad(fault.line, fault.column, fault.reason);
        return false;
    }
    LoadOptions options = ParseOptions(m_strPathName);
    options.shownNodes = shown;
    return dom.loadXML(text, options);
}

XmlDocument& CDoc::WholeDom() {
    if (!m_pDomDoc || m_pDomDoc->hollow()) {
        auto dom = std::make_unique<XmlDocument>();
        if (!m_strText.empty()) {
            ParseText(*dom, m_strText);
        }
        SetDom(std::move(dom));
    }
    return *m_pDomDoc;
}

bool CDoc::OnNewDocument() {
    m_strPathName.clear();
    m_strDtdWarningShown.clear();
    m_bModified = false;
    m_strText.clear();
    m_strLastUrl = "http://";
    m_bValidateOnParse = true;
    m_codec = TextCodec();
    SetDom(nullptr);
    m_strSourceUrl.clear();
    ForgetFile();
    return true;
}

LoadResult CDoc::OnOpenDocument(const std::string& path) {
    FileDocument file = ReadFileDocument(path);
    if (file.error.empty()) {
        ParseFileDocument(file, FileParseOptions(file.path));
    }
    return FinishOpenDocument(std::move(file));
}

FileDocument CDoc::ReadFileDocument(const std::string& path) {
    FileDocument file;
    file.path = path;
    std::string bytes;
    file.error = ReadWholeFile(path, bytes, &file.stamp);
    if (file.error.empty()) {
        file.decoded = DecodeOwnedFileBytes(std::move(bytes));
    }
    return file;
}

LoadOptions CDoc::FileParseOptions(const std::string& path) const {
    LoadOptions options = ParseOptions(path);
    options.baseUrl = std::filesystem::absolute(path).string();
    options.fetcher = nullptr;  // a file is not a fetched document, whatever came before
    return options;
}

void CDoc::ParseFileDocument(FileDocument& file, const LoadOptions& options, ShownNodeSink* shown) {
    file.dom = std::make_unique<XmlDocument>();
    if (file.decoded.text.empty()) {
        return;
    }
    if (const auto& fault = file.decoded.codec.fault) {
        // Not well-formed in its encoding: the parse fails where the bytes do.
        file.dom->failLoad(fault->line, fault->column, fault->reason);
        return;
    }
    LoadOptions told = options;
    told.shownNodes = shown;
    file.dom->loadXML(file.decoded.text, told);
}

LoadResult CDoc::FinishOpenDocument(FileDocument file) {
    LoadResult result;
    result.error = std::move(file.error);
    if (!result.error.empty()) {
        return result;
    }
    result.opened = true;
    result.nulOffset = file.decoded.nulOffset;
    result.parsed = !file.decoded.text.empty() && file.dom->parseError().line == 0;

    m_strText = std::move(file.decoded.text);
    m_codec = std::move(file.decoded.codec);
    SetDom(std::move(file.dom));
    m_strPathName = file.path;
    KnowFile(file.path, file.stamp);
    m_strSourceUrl.clear();
    m_bTextChanged = false;
    m_strDtdWarningShown.clear();
    if (m_codec.fault && m_codec.fault->invalidBytes) {
        m_sink.ShowMessage(InvalidBytesWarning(*m_codec.fault, m_codec.encoding));
    }
    if (!m_strText.empty() && m_pDomDoc->parseError().line > 0) {
        m_sink.ShowMessage(ParseErrorMessage(m_pDomDoc->parseError().reason));
    } else {
        WarnUnreadDtds(*m_pDomDoc);
    }
    m_bModified = false;
    return result;
}

CDoc::Written CDoc::WriteDocument(const std::string& path, std::string_view viewText) const {
    return WriteText(path, viewText, m_codec);
}

CDoc::Written CDoc::WriteText(const std::string& path, std::string_view viewText, TextCodec codec) {
    Written written;
    written.codec = CodecForDeclaration(viewText, codec);
    EncodeResult encoded = EncodeText(viewText, written.codec);
    if (!encoded.ok()) {
        written.error = "Cannot save '" + path + "':\n" + encoded.error;
        return written;
    }
    written.error = WriteFileAtomically(path, encoded.bytes, &written.stamp, &written.failure);
    return written;
}

std::string CDoc::FinishSave(const std::string& path, Written written) {
    if (!written.error.empty()) {
        return written.error;
    }
    m_codec = std::move(written.codec);
    m_strPathName = path;
    KnowFile(path, written.stamp);
    m_bModified = false;
    return {};
}

std::string CDoc::OnSaveDocument(const std::string& path, std::string_view viewText) {
    return FinishSave(path, WriteDocument(path, viewText));
}

bool CDoc::ChangedOnDisk() const {
    if (m_diskStampPath.empty() || m_diskStampPath != m_strPathName || !m_diskStamp.exists) {
        return false;  // this file was never read or written here
    }
    FileStamp now = StampOfFile(m_strPathName);
    return now.exists && now != m_diskStamp;
}

bool CDoc::DeletedOnDisk() const {
    return !m_diskStampPath.empty() && m_diskStampPath == m_strPathName && m_diskStamp.exists &&
           !StampOfFile(m_strPathName).exists;
}

CDoc::DiskChange CDoc::TakeDiskChange() {
    if (m_diskStampPath.empty() || m_diskStampPath != m_strPathName || !m_diskStamp.exists) {
        return DiskChange::None;
    }
    FileStamp now = StampOfFile(m_strPathName);
    if (now == m_diskStamp || now == m_askedStamp) {
        return DiskChange::None;
    }
    m_askedStamp = now;
    return now.exists ? DiskChange::Changed : DiskChange::Deleted;
}

bool CDoc::DiskChangeAsked() const {
    return m_askedStamp && StampOfFile(m_strPathName) == *m_askedStamp;
}

void CDoc::ForgetFile() {
    m_diskStamp = FileStamp();
    m_diskStampPath.clear();
    m_askedStamp.reset();
    m_bNameChosen = false;
}

void CDoc::KnowFile(const std::string& path, const FileStamp& stamp) {
    m_diskStamp = stamp;
    m_diskStampPath = path;
    m_askedStamp.reset();
    m_bNameChosen = true;
}

UrlRequest CDoc::BeginOpenUrl(const std::string& url, const UrlProgress& progress) {
    m_strLastUrl = url;
    if (progress.setPos) {
        progress.setPos(15);
    }
    return UrlRequest{url, m_bValidateOnParse, FetchOptions::FromEnvironment()};
}

UrlDocument CDoc::LoadUrlDocument(const UrlRequest& request) {
    UrlDocument loaded;
    FetchResult fetched = FetchUrl(request.url, request.fetch);
    loaded.url = fetched.effectiveUrl;
    if (!fetched.ok) {
        loaded.error = std::move(fetched.error);
        loaded.cancelled = fetched.cancelled;
        return loaded;
    }
    LoadOptions options;
    options.validateOnParse = request.validateOnParse;
    options.baseUrl =
        fetched.effectiveUrl;  // relative DTDs sit beside the document, also after a redirect
    options.fetcher = NetworkFetcher(request.fetch);
    loaded.dom = std::make_unique<XmlDocument>();
    loaded.dom->loadBytes(fetched.body, options);
    if (request.fetch.cancel != nullptr && request.fetch.cancel->load()) {
        // Stopped while a DTD or schema was on its way: the parse result means nothing.
        loaded.dom.reset();
        loaded.cancelled = true;
        loaded.error = "The transfer was cancelled.";
    }
    return loaded;
}

UrlOpenResult CDoc::FinishOpenUrl(UrlDocument loaded, const UrlProgress& progress) {
    auto step = [&](int pos) {
        if (progress.setPos) {
            progress.setPos(pos);
        }
    };
    auto clear = [&] {
        if (progress.clear) {
            progress.clear();
        }
    };
    if (loaded.cancelled) {
        clear();
        return UrlOpenResult::Cancelled;
    }
    if (!loaded.error.empty() || !loaded.dom) {
        clear();
        m_sink.ShowMessage("Could not open the URL:\n" + loaded.error);
        return UrlOpenResult::NotFetched;
    }
    if (loaded.dom->parseError().line > 0) {
        clear();
        m_sink.ShowMessage(ParseErrorMessage(loaded.dom->parseError().reason, kUrlParseHint));
        return UrlOpenResult::ParseError;
    }
    step(30);
    std::string text, path;
    try {
        text = loaded.dom->xml();
        path = (std::filesystem::current_path() / kUrlDocumentName).string();
    } catch (const std::exception& e) {
        // Nothing has changed yet, and a half-replaced document could be saved over the wrong file.
        clear();
        m_sink.ShowMessage("Could not open the URL:\n" + std::string(e.what()));
        return UrlOpenResult::NotFetched;
    }
    m_strText = std::move(text);
    step(45);
    SetDom(std::move(loaded.dom));
    m_codec = TextCodec();
    m_strSourceUrl = std::move(loaded.url);
    m_strPathName = std::move(path);
    ForgetFile();
    m_bTextChanged = false;  // the DOM is the one the text came from
    m_strDtdWarningShown.clear();
    UpdateAllViews(nullptr);
    WarnUnreadDtds(*m_pDomDoc);
    step(60);
    m_bModified = true;  // it exists only in memory until saved
    clear();
    return UrlOpenResult::Opened;
}

UrlOpenResult CDoc::OnOpenUrl(const std::string& url, const UrlProgress& progress) {
    UrlRequest request = BeginOpenUrl(url, progress);
    return FinishOpenUrl(LoadUrlDocument(request), progress);
}

void CDoc::SetDom(std::unique_ptr<XmlDocument> dom) {
    DisposeOf(std::exchange(m_pDomDoc, std::move(dom)));
}

bool CDoc::ReparseDocument(std::string_view lastHintLine) {
    return InstallParsed(ParseApart(m_strText), lastHintLine);
}

std::unique_ptr<XmlDocument> CDoc::ParseApart(std::string_view text) const {
    auto dom = std::make_unique<XmlDocument>();
    if (!text.empty()) {
        ParseText(*dom, text);
    }
    return dom;
}

bool CDoc::InstallParsed(std::unique_ptr<XmlDocument> dom, std::string_view lastHintLine) {
    SetDom(std::move(dom));
    if (m_strText.empty()) {
        return false;
    }
    if (m_pDomDoc->parseError().line == 0) {
        WarnUnreadDtds(*m_pDomDoc);
        return true;
    }
    m_sink.ShowMessage(ParseErrorMessage(m_pDomDoc->parseError().reason, lastHintLine));
    return false;
}

bool CDoc::RestoreDomFromText() {
    auto dom = std::make_unique<XmlDocument>();
    bool parsed = !m_strText.empty() && ParseText(*dom, m_strText);
    SetDom(std::move(dom));
    return parsed;
}

void CDoc::OnTextChanged(std::string text) {
    m_strText = std::move(text);
    m_bTextPending = false;
    m_bTextChanged = true;
    ++m_textEdits;
    m_bModified = true;
}

void CDoc::OnTextEdited() {
    m_bTextPending = true;
    m_bTextChanged = true;
    ++m_textEdits;
    m_bModified = true;
}

void CDoc::SyncText() {
    if (m_bTextPending && m_textSource) {
        m_strText = m_textSource();
    }
    m_bTextPending = false;
}

void CDoc::SyncText(std::string viewText) {
    m_strText = std::move(viewText);
    m_bTextPending = false;
}

void CDoc::SetTextAndDom(std::string text, std::unique_ptr<XmlDocument> dom) {
    DisposeOfText(std::exchange(m_strText, std::move(text)));
    SetDom(std::move(dom));
}

void CDoc::AddView(CDocView* view) {
    m_views.push_back(view);
}

void CDoc::RemoveView(CDocView* view) {
    std::erase(m_views, view);
}

void CDoc::UpdateAllViews(CDocView* sender) {
    for (CDocView* view : m_views) {
        if (view != sender) {
            view->OnUpdate(sender);
        }
    }
}

}  // namespace quorrel
