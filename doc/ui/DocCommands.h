// The document's own commands in the window: Save, Save As, the validation
// switch and Parse, Open from URL, and the save prompt before the document is replaced.
#pragma once

#include <QFileSystemWatcher>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "doc/core/Doc.h"
#include "framework/ui/CommandTarget.h"

namespace quorrel {

class CDoc;
class CFormatDlg;
class CDocWindow;
class CUrlDlg;
class UserInterface;
struct UrlDocument;

class DocCommands : public CommandTarget {
public:
    DocCommands(CDoc& doc, UserInterface& ui, CDocWindow& frame);
    ~DocCommands() override;
    DocCommands(const DocCommands&) = delete;
    DocCommands& operator=(const DocCommands&) = delete;

    // Told whether the document was saved (or, for SaveModified, may be replaced).
    // A large document is saved apart: then is told once the save has ended.
    using Then = std::function<void(bool saved)>;
    void OnFileSave(Then then = {});
    void OnFileSaveAs(Then then = {});
    // Asks to save a modified document; false when the user cancelled (or the save failed).
    void SaveModified(Then then);
    // The document's title: its file name, or "Quorrel" for a new document.
    QString Title() const;

    // Open from URL: asks for the URL, then fetches it on another thread; the
    // document changes when the fetch ends. Every other command waits till then.
    void OnOpenUrl();
    bool IsFetching() const { return m_urlRun != nullptr; }
    // Stops a fetch under way; it ends as a cancelled fetch does.
    void CancelUrlFetch();

    // Told of every file the document was saved to (the recent-file list).
    std::function<void(const QString& path)> m_onSaved;
    // Opens the document's file again, as a recent file is opened.
    std::function<void(const QString& path)> m_reload;

    // Offers to reload the document's file when another program changed it,
    // or says once that it was deleted. Asks nothing twice for one change.
    void CheckFileOnDisk();
    // Watches the document's file for changes by other programs, if it has one.
    void WatchFile();

    // Xml > Format Document: asks for the indentation, then lays the
    // document out anew as a tree command does its change.
    void OnFormatDocument();

    // How the URL and format dialogs are shown; the tests replace them.
    std::function<int(CUrlDlg& dialog)> m_execUrlDialog;
    std::function<int(CFormatDlg& dialog)> m_execFormatDialog;

private:
    struct UrlFetchRun;

    void DoSave(const QString& path, Then then);
    void FinishSave(const QString& path, CDoc::Written written, Then then);
    static void Tell(const Then& then, bool saved);
    // Save As after a save was refused, if the user wants it.
    void OfferSaveAs(const std::string& error, Then then);
    void AskUrlAndFetch();
    void OnUrlLoaded(UrlDocument loaded);

    CDoc& m_doc;
    UserInterface& m_ui;
    CDocWindow& m_frame;
    std::unique_ptr<UrlFetchRun> m_urlRun;  // while a fetch is under way
    QFileSystemWatcher m_watcher;
    QTimer m_settle;  // a program writing a file signals many times: ask once it is done
    bool m_bSaving = false;
    bool m_bChecking = false;
};

}  // namespace quorrel
