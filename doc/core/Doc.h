// The one document of the editor: its text, its DOM, the flags that keep the
// two views in step, and load, store, New and Parse.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc/core/Disposal.h"
#include "doc/core/FileCodec.h"
#include "doc/core/MessageSink.h"
#include "doc/core/UrlFetch.h"
#include "doc/core/XmlDom.h"

namespace quorrel {

// A view of the document. The source view is created first, so it is the first view.
class CDocView {
public:
    virtual ~CDocView() = default;
    // sender: the view that changed the document, or null for the initial update.
    virtual void OnUpdate(CDocView* sender) = 0;
};

struct LoadResult {
    bool opened = false;  // false: the file could not be read; nothing changed
    std::string error;    // the system's reason when not opened
    bool parsed = false;  // the text parsed (well-formed, and valid when validating)
    std::optional<std::size_t> nulOffset;  // the file's byte offset where the text was cut at a NUL
};

// Open from URL: what the fetch needs, taken from the document when the command starts.
struct UrlRequest {
    std::string url;
    bool validateOnParse = true;
    FetchOptions fetch;
};

// A fetched and parsed document, not yet put in place.
struct UrlDocument {
    std::string url;    // where it came from, after redirects
    std::string error;  // not empty: nothing usable was fetched
    bool cancelled = false;
    std::unique_ptr<XmlDocument> dom;  // when fetched; its parseError() tells whether it parsed
};

// A file read, decoded and parsed apart from the document: the steps of
// Open that may run on another thread.
struct FileDocument {
    std::string path;   // absolute
    std::string error;  // not empty: the file could not be read, nothing else is set
    DecodedFile decoded;
    FileStamp stamp;
    std::unique_ptr<XmlDocument> dom;  // after ParseFileDocument
};

enum class UrlOpenResult { Opened, ParseError, NotFetched, Cancelled };

// The status-bar progress of Open from URL; either may be empty.
struct UrlProgress {
    std::function<void(int)> setPos;
    std::function<void()> clear;
};

// The XML generator of Get Xml Data, defined by the database layer, which
// also makes it and hands over how it is freed.
class CXmlGenerator;
using XmlGeneratorPtr = std::unique_ptr<CXmlGenerator, void (*)(CXmlGenerator*)>;

class CDoc {
public:
    explicit CDoc(MessageSink& sink);
    ~CDoc();
    CDoc(const CDoc&) = delete;
    CDoc& operator=(const CDoc&) = delete;

    // File > New: empty text, last URL "http://", validation on, no DOM.
    // New and Open leave the initial update (UpdateAllViews(nullptr)) to the caller.
    bool OnNewDocument();
    // File > Open: reads, decodes and parses the file. A parse error is shown
    // but still opens the document; a file that cannot be read changes nothing.
    LoadResult OnOpenDocument(const std::string& path);
    // The same in steps: read and decode, parse (both touch no document, so
    // they may run on any thread), then put the result in place (a file
    // read without error must have been parsed).
    static FileDocument ReadFileDocument(const std::string& path);
    static void ParseFileDocument(FileDocument& file, const LoadOptions& options,
                                  ShownNodeSink* shown = nullptr);
    LoadOptions FileParseOptions(const std::string& path) const;
    LoadResult FinishOpenDocument(FileDocument file);
    // Save / Save As: writes the view's text in the file's encoding; returns
    // an empty string on success, else the message to show. The file is
    // untouched on failure.
    std::string OnSaveDocument(const std::string& path, std::string_view viewText);
    // The same in two steps: the write reads the document only (any thread);
    // the finish records it.
    struct Written {
        std::string error;
        TextCodec codec;
        FileStamp stamp;
        int failure = 0;  // the errno value of a failed write
    };
    Written WriteDocument(const std::string& path, std::string_view viewText) const;
    // The same from values alone, for a save that runs apart: codec is the document's.
    static Written WriteText(const std::string& path, std::string_view viewText, TextCodec codec);
    std::string FinishSave(const std::string& path, Written written);
    // Whether another program changed or replaced the document's file since
    // it was opened or last saved here (false when the file is gone).
    bool ChangedOnDisk() const;
    // Whether the file read or written here is gone.
    bool DeletedOnDisk() const;
    enum class DiskChange { None, Changed, Deleted };
    // A change of the document's file by another program that the user has
    // not been asked about yet; from now on it counts as asked.
    DiskChange TakeDiskChange();
    // Whether the file stands as it did when the user was last asked about it.
    bool DiskChangeAsked() const;
    // Whether the user chose the document's file name (opened or saved it
    // under it): the fixed name of a fetched or generated document is not theirs.
    bool IsNameChosen() const { return m_bNameChosen; }

    void OnValidateYes() { m_bValidateOnParse = true; }
    void OnValidateNo() { m_bValidateOnParse = false; }
    bool CanValidateYes() const { return !m_bValidateOnParse; }
    bool CanValidateNo() const { return m_bValidateOnParse; }
    // Xml > Parse: the tree view re-parses the text.
    void OnParse() { UpdateAllViews(GetFirstView()); }

    // Open from URL, in three steps so that a window can fetch off its own thread.
    // Begin: the URL becomes the last URL; progress 15.
    UrlRequest BeginOpenUrl(const std::string& url, const UrlProgress& progress = {});
    // Fetches and parses. Touches no document, so it may run on any thread.
    static UrlDocument LoadUrlDocument(const UrlRequest& request);
    // Puts the document in place (named "Quorrel.xml" in the current directory,
    // text its serialisation, modified, views updated), or shows why not and
    // leaves the document as it was.
    UrlOpenResult FinishOpenUrl(UrlDocument loaded, const UrlProgress& progress = {});
    // The three steps on this thread.
    UrlOpenResult OnOpenUrl(const std::string& url, const UrlProgress& progress = {});
    // The URL the document came from; empty for a file or a new document.
    const std::string& SourceUrl() const { return m_strSourceUrl; }

    // Replaces the DOM with a fresh parse of the document text and shows the
    // parse-error message (with lastHintLine) on failure. An empty text leaves an empty DOM.
    bool ReparseDocument(std::string_view lastHintLine = kParseHint);
    // The same in two steps: the parse reads the document only (any thread,
    // while the document stands still); the install puts the DOM in place
    // and shows what the parse found.
    std::unique_ptr<XmlDocument> ParseApart(std::string_view text) const;
    bool InstallParsed(std::unique_ptr<XmlDocument> dom,
                       std::string_view lastHintLine = kParseHint);

    // The DOM: none (no parse yet, or a new document), hollow (the parse kept
    // none of it: XmlDocument::hollow()), or whole.
    enum class DomState { None, Hollow, Whole };
    DomState GetDomState() const {
        return !m_pDomDoc            ? DomState::None
               : m_pDomDoc->hollow() ? DomState::Hollow
                                     : DomState::Whole;
    }
    bool HasDom() const { return m_pDomDoc != nullptr; }
    // The DOM as it is (hollow or whole); only when HasDom().
    XmlDocument& Dom() { return *m_pDomDoc; }
    const XmlDocument& Dom() const { return *m_pDomDoc; }
    // Hands the DOM over (to a worker, or to a command that changes it); the
    // document has none until it is given one back with SetDom.
    std::unique_ptr<XmlDocument> TakeDom() { return std::move(m_pDomDoc); }

    // Parses the text again without showing anything: puts the DOM back after
    // a change that failed half-way.
    bool RestoreDomFromText();
    // The document's DOM from now on; the one it replaces is freed apart.
    void SetDom(std::unique_ptr<XmlDocument> dom);
    // Parses text into dom as the document parses its own text: bytes the
    // file's encoding did not define fail it while the text is unchanged.
    // shown: told the shown nodes of a text without a DTD, as LoadOptions::shownNodes.
    bool ParseText(XmlDocument& dom, std::string_view text, ShownNodeSink* shown = nullptr) const;
    // A DOM that is whole: the document's own, parsed again from the text
    // when the parse that made it kept none of it (XmlDocument::hollow()).
    XmlDocument& WholeDom();
    // How the document's text is parsed now: validation, base, fetching.
    LoadOptions CurrentParseOptions() const { return ParseOptions(m_strPathName); }

    // The document text, UTF-8.
    const std::string& Text() const { return m_strText; }
    // The program sets the text, not the user: no flag changes, and the DOM
    // stands for the text it replaced until the next parse (ReparseDocument).
    void ReplaceText(std::string text) { m_strText = std::move(text); }
    // The text and the DOM parsed from it take the place of the old ones,
    // which are freed apart.
    void SetTextAndDom(std::string text, std::unique_ptr<XmlDocument> dom);

    // The source view's change handler: the text changed.
    void OnTextChanged(std::string text);
    // The source view's text changed but is not copied yet: a keystroke in a
    // large document must not copy the whole text. SyncText() copies it.
    void OnTextEdited();
    // Brings the document text up to date with the source view, if it is behind.
    void SyncText();
    // The same with the view's text copied already (apart, or set by the program).
    void SyncText(std::string viewText);
    // Where SyncText() takes the text from (the source view), and the same
    // without a copy (valid while the view's text stands still); null: none.
    void SetTextSource(std::function<std::string()> copy, std::function<std::string_view()> view) {
        m_textSource = std::move(copy);
        m_textViewSource = std::move(view);
    }
    // The source view holds newer text than Text().
    bool IsTextPending() const { return m_bTextPending; }
    // The view's newer text, without a copy, when it is pending.
    std::optional<std::string_view> PendingText() const {
        if (m_bTextPending && m_textViewSource) {
            return m_textViewSource();
        }
        return std::nullopt;
    }
    // The view and the document hold the same text again (the view was set from it).
    void TextInStep() { m_bTextPending = false; }
    // Counts the user's edits of the text (not texts the program sets): the
    // tree's positions hold while it is the count the tree was built at.
    std::uint64_t TextEdits() const { return m_textEdits; }
    // The text changed since the other pane last followed it.
    bool IsTextChanged() const { return m_bTextChanged; }
    void ClearTextChanged() { m_bTextChanged = false; }

    // Views, in creation order.
    void AddView(CDocView* view);
    void RemoveView(CDocView* view);
    CDocView* GetFirstView() const { return m_views.empty() ? nullptr : m_views.front(); }
    void UpdateAllViews(CDocView* sender);

    bool IsModified() const { return m_bModified; }
    void SetModifiedFlag(bool modified = true) { m_bModified = modified; }
    const std::string& GetPathName() const { return m_strPathName; }
    void SetPathName(std::string path) { m_strPathName = std::move(path); }
    // The document becomes a local file's (Get Xml Data): whatever its text
    // names resolves beside that file, no longer against a URL it came from.
    void SetLocalPathName(std::string path) {
        m_strPathName = std::move(path);
        m_strSourceUrl.clear();
        ForgetFile();
    }
    MessageSink& Messages() { return m_sink; }

    static constexpr std::string_view kParseHint =
        "\n Then click on the Parse button - P - to retry this operation.";
    static constexpr std::string_view kUrlParseHint = "\n Then try to open this URL again.";
    static constexpr std::string_view kUrlDocumentName = "Quorrel.xml";
    // Shown when a file holds bytes its encoding does not define.
    static std::string InvalidBytesWarning(const DecodeFault& fault, const std::string& encoding);
    // "XML DOM Parse Error:\n" + reason + the two hint lines.
    static std::string ParseErrorMessage(std::string_view reason,
                                         std::string_view lastHintLine = kParseHint);

    // The URL Open from URL offers next.
    const std::string& LastUrl() const { return m_strLastUrl; }
    void SetLastUrl(std::string url) { m_strLastUrl = std::move(url); }
    bool ValidatesOnParse() const { return m_bValidateOnParse; }
    // How the file was encoded; a generated document gets the default.
    const TextCodec& Codec() const { return m_codec; }
    void SetCodec(TextCodec codec) { m_codec = std::move(codec); }
    // Get Xml Data: the data source settings kept for the next run, and the
    // column names going into the mapping dialog and the choices coming out.
    // Null until Get Xml Data first runs (XmlGeneratorOf makes it).
    CXmlGenerator* GetXmlGenerator() { return m_xmlGenerator.get(); }
    void SetXmlGenerator(XmlGeneratorPtr generator) { m_xmlGenerator = std::move(generator); }
    std::vector<std::string>& ColumnNames() { return m_columnNames; }
    const std::vector<std::string>& ColumnNames() const { return m_columnNames; }

private:
    std::string m_strLastUrl = "http://";
    bool m_bTextChanged = false;
    bool m_bValidateOnParse = true;
    TextCodec m_codec;
    // Held through a type this layer only declares: the database layer
    // defines it and how it is made and freed.
    XmlGeneratorPtr m_xmlGenerator{nullptr, nullptr};
    std::vector<std::string> m_columnNames;
    std::function<std::string()> m_textSource;
    std::function<std::string_view()> m_textViewSource;
    bool m_bTextPending = false;
    std::uint64_t m_textEdits = 0;

    LoadOptions ParseOptions(const std::string& path) const;
    // Tells the user once per document which DTDs a parse went on without.
    void WarnUnreadDtds(const XmlDocument& dom);
    // The document no longer stands for a file read or written here.
    void ForgetFile();
    // The document now is the file as read or written here.
    void KnowFile(const std::string& path, const FileStamp& stamp);

    MessageSink& m_sink;
    std::string m_strText;                   // the document text, UTF-8
    std::unique_ptr<XmlDocument> m_pDomDoc;  // null when there is no DOM
    std::vector<CDocView*> m_views;
    std::string m_strPathName;
    // Relative DTDs and schemas of a fetched document resolve against it, and
    // are fetched, never read from local files.
    std::string m_strSourceUrl;
    bool m_bModified = false;
    std::string m_strDtdWarningShown;  // the unread-DTD warning this document has shown
    // The file as it was read or written here, and under which path.
    FileStamp m_diskStamp;
    std::string m_diskStampPath;
    std::optional<FileStamp> m_askedStamp;  // the file as the user was last asked about it
    bool m_bNameChosen = false;
};

}  // namespace quorrel
