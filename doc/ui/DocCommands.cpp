#include "doc/ui/DocCommands.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

#include "doc/core/Doc.h"
#include "doc/ui/FormatDlg.h"
#include "doc/ui/GetXmlData.h"
#include "doc/ui/UrlDlg.h"
#include "framework/ui/BackgroundWork.h"
#include "framework/ui/Commands.h"
#include "framework/ui/ProgressBar.h"
#include "framework/ui/UserInterface.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"
#include "views/window/ui/DocWindow.h"

namespace quorrel {

// One Open from URL from the dialog's OK until the fetched document is in place.
struct DocCommands::UrlFetchRun {
    explicit UrlFetchRun(CDocWindow& frame) : progress(&frame.HostWindow()) {}
    CProgressBar progress;
    // Shared with the job, which may outlive this run when the window goes first.
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
};

namespace {

UrlProgress ProgressOf(CProgressBar& bar) {
    return UrlProgress{[&bar](int pos) { bar.SetPos(pos); }, [&bar] { bar.Clear(); }};
}

}  // namespace

DocCommands::DocCommands(CDoc& doc, UserInterface& ui, CDocWindow& frame)
    : m_doc(doc), m_ui(ui), m_frame(frame) {
    On(ID_FILE_SAVE, [this] { OnFileSave(); });
    On(ID_FILE_SAVE_AS, [this] { OnFileSaveAs(); });
    On(
        ID_VALIDATE_YES, [this] { m_doc.OnValidateYes(); },
        [this] { return m_doc.CanValidateYes(); });
    On(
        ID_VALIDATE_NO, [this] { m_doc.OnValidateNo(); }, [this] { return m_doc.CanValidateNo(); });
    On(ID_PARSE, [this] { m_doc.OnParse(); });
    On(
        ID_OPEN_URL, [this] { OnOpenUrl(); }, [this] { return !IsFetching(); });
    On(
        ID_GET_XML_DATA, [this] { OnGetXmlData(m_doc, m_ui, m_frame, *this); },
        [this] { return !IsFetching(); });
    On(
        ID_FORMAT_DOCUMENT, [this] { OnFormatDocument(); },
        [this] { return !IsFetching() && (!m_doc.Text().empty() || m_doc.IsTextPending()); });
    m_execUrlDialog = [](CUrlDlg& dialog) { return dialog.exec(); };
    m_execFormatDialog = [](CFormatDlg& dialog) { return dialog.exec(); };

    m_settle.setSingleShot(true);
    m_settle.setInterval(300);
    QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_settle,
                     qOverload<>(&QTimer::start));
    QObject::connect(&m_settle, &QTimer::timeout, &m_frame.HostWindow(), [this] {
        // While another window is in front, the question waits for this one to come back.
        if (QGuiApplication::applicationState() == Qt::ApplicationActive) {
            CheckFileOnDisk();
        } else {
            WatchFile();
        }
    });
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &m_frame.HostWindow(),
                     [this](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive) {
                             CheckFileOnDisk();
                         }
                     });
}

void DocCommands::WatchFile() {
    QString path = QString::fromStdString(m_doc.GetPathName());
    QStringList wanted;
    if (!path.isEmpty() && QFileInfo::exists(path)) {
        wanted << path;
    }
    // A file replaced by a rename is no longer the one watched: watch it anew.
    if (!m_watcher.files().isEmpty()) {
        m_watcher.removePaths(m_watcher.files());
    }
    if (!wanted.isEmpty()) {
        m_watcher.addPaths(wanted);
    }
}

void DocCommands::CheckFileOnDisk() {
    if (m_bChecking || m_bSaving || m_frame.IsBusy() || QApplication::activeModalWidget()) {
        return;
    }
    m_bChecking = true;
    WatchFile();
    QString path = QString::fromStdString(m_doc.GetPathName());
    switch (m_doc.TakeDiskChange()) {
        case CDoc::DiskChange::None:
            break;
        case CDoc::DiskChange::Deleted:
            m_ui.ShowMessage(path.toStdString() +
                             "\n\nThis file has been deleted by another program.");
            break;
        case CDoc::DiskChange::Changed: {
            const bool modified = m_doc.IsModified();
            QString question = path + QStringLiteral(
                                          "\n\nThis file has been changed by another program. "
                                          "Reload it?");
            if (modified) {
                question += QStringLiteral("\nThe changes made here would be lost.");
            }
            if (m_ui.AskYesNo(question, modified ? Answer::No : Answer::Yes) && m_reload) {
                m_reload(path);
            }
            break;
        }
    }
    m_bChecking = false;
}

void DocCommands::OnFormatDocument() {
    m_doc.SyncText();
    CFormatDlg dialog(DocumentIndent(m_doc.Text()), &m_frame.HostWindow());
    if (m_execFormatDialog(dialog) != QDialog::Accepted) {
        return;
    }
    if (CClassView* tree = m_frame.TreeView()) {
        tree->OnFormatDocument(dialog.Indent());
    }
}

DocCommands::~DocCommands() {
    CancelUrlFetch();  // the runner waits for the job, which stops at once
}

QString DocCommands::Title() const {
    if (m_doc.GetPathName().empty()) {
        return QStringLiteral("Quorrel");
    }
    return QFileInfo(QString::fromStdString(m_doc.GetPathName())).fileName();
}

void DocCommands::DoSave(const QString& path, Then then) {
    if (path.toStdString() == m_doc.GetPathName() && m_doc.ChangedOnDisk() &&
        !m_doc.DiskChangeAsked() &&
        !m_ui.AskYesNo(
            QStringLiteral("%1 has been changed by another program since it was opened.\n"
                           "Overwrite it with this document?")
                .arg(path))) {
        Tell(then, false);
        return;
    }
    // The view's text as it stands, without a copy: the pane is read-only
    // while a large one is encoded and written apart.
    std::string_view text = m_frame.SourceView()->TextView();
    std::string file = path.toStdString();
    // Our own write is no change by another program.
    m_bSaving = true;
    if (text.size() < CBackgroundWork::kApartFrom) {
        CDoc::Written written;
        try {
            written = CDoc::WriteText(file, text, m_doc.Codec());
        } catch (const std::exception& e) {
            written.error = "Cannot save '" + file + "':\n" + e.what();
        }
        FinishSave(path, std::move(written), std::move(then));
        return;
    }
    // Told on the window's thread once the write has ended, failed or not.
    auto end = std::make_shared<std::function<void(CDoc::Written)>>(
        [this, path, then](CDoc::Written written) { FinishSave(path, std::move(written), then); });
    const bool started = m_frame.Work().Start(
        QStringLiteral("Saving…"),
        [end, file, text, codec = m_doc.Codec()]() -> CBackgroundWork::Continuation {
            auto written = std::make_shared<CDoc::Written>(CDoc::WriteText(file, text, codec));
            return [end, written] { (*end)(std::move(*written)); };
        },
        [end, file](const std::string& failure) {
            CDoc::Written written;
            written.error = "Cannot save '" + file + "':\n" + failure;
            (*end)(std::move(written));
        });
    if (!started) {
        m_bSaving = false;
        m_ui.ShowMessage("Cannot save '" + file + "' while another command is under way.");
        Tell(then, false);
    }
}

void DocCommands::FinishSave(const QString& path, CDoc::Written written, Then then) {
    m_bSaving = false;
    const int failure = written.failure;
    std::string error = m_doc.FinishSave(path.toStdString(), std::move(written));
    if (!error.empty()) {
        if (failure == EACCES || failure == EPERM || failure == EROFS) {
            OfferSaveAs(error, std::move(then));
            return;
        }
        m_ui.ShowMessage(error);
        Tell(then, false);
        return;
    }
    m_frame.UpdateTitle();
    if (m_onSaved) {
        m_onSaved(path);
    }
    Tell(then, true);
}

void DocCommands::Tell(const Then& then, bool saved) {
    if (then) {
        then(saved);
    }
}

void DocCommands::OfferSaveAs(const std::string& error, Then then) {
    // The edits stay in the window; another name may be writable.
    if (!m_ui.AskYesNo(QString::fromStdString(error) +
                       QStringLiteral("\n\nSave the document under another name?"))) {
        Tell(then, false);
        return;
    }
    OnFileSaveAs(std::move(then));
}

void DocCommands::OnFileSave(Then then) {
    if (m_doc.GetPathName().empty()) {
        OnFileSaveAs(std::move(then));
        return;
    }
    QString path = QString::fromStdString(m_doc.GetPathName());
    // A name the document was given (Quorrel.xml, Quorreldata.xml) may be a
    // file of the user's own: replaced only when they say so.
    if (!m_doc.IsNameChosen() && QFileInfo::exists(path) &&
        !m_ui.AskYesNo(
            QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(path))) {
        OnFileSaveAs(std::move(then));
        return;
    }
    if (m_doc.DeletedOnDisk() &&
        !m_ui.AskYesNo(path + QStringLiteral("\n\nThis file no longer exists. Save it again?"))) {
        OnFileSaveAs(std::move(then));
        return;
    }
    DoSave(path, std::move(then));
}

void DocCommands::OnFileSaveAs(Then then) {
    QString suggested = m_doc.GetPathName().empty() ? Title() + QStringLiteral(".xml")
                                                    : QString::fromStdString(m_doc.GetPathName());
    QString path = m_ui.AskSaveFileName(suggested);
    if (path.isEmpty()) {
        Tell(then, false);
        return;
    }
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".xml");
    }
    DoSave(path, std::move(then));
}

void DocCommands::SaveModified(Then then) {
    if (!m_doc.IsModified()) {
        Tell(then, true);
        return;
    }
    switch (m_ui.AskSaveChanges(Title())) {
        case SaveAnswer::Save:
            OnFileSave(std::move(then));
            return;
        case SaveAnswer::Discard:
            Tell(then, true);
            return;
        case SaveAnswer::Cancel:
            Tell(then, false);
            return;
    }
}

void DocCommands::OnOpenUrl() {
    if (IsFetching()) {
        return;
    }
    SaveModified([this](bool saved) {
        if (saved) {  // Cancel in the save prompt stops the command
            AskUrlAndFetch();
        }
    });
}

void DocCommands::AskUrlAndFetch() {
    CUrlDlg dialog(&m_frame.HostWindow());
    dialog.m_strUrl = QString::fromStdString(m_doc.LastUrl());
    if (m_execUrlDialog(dialog) != QDialog::Accepted) {
        return;
    }
    auto run = std::make_unique<UrlFetchRun>(m_frame);
    run->progress.Create(QString(), 100, 100, false, 1);
    run->progress.SetRange(0, 60, 1);
    UrlRequest request =
        m_doc.BeginOpenUrl(dialog.m_strUrl.toStdString(), ProgressOf(run->progress));
    request.fetch.cancel = run->cancel.get();
    const bool started = m_frame.Work().Start(
        QStringLiteral("Opening %1…").arg(dialog.m_strUrl),
        [this, request, cancel = run->cancel]() -> CBackgroundWork::Continuation {
            auto loaded = std::make_shared<UrlDocument>(CDoc::LoadUrlDocument(request));
            return [this, loaded] { OnUrlLoaded(std::move(*loaded)); };
        },
        [this](const std::string& error) {
            UrlDocument failed;
            failed.error = error;
            OnUrlLoaded(std::move(failed));
        },
        false);  // the command's own progress bar shows it is under way
    if (!started) {
        run->progress.Clear();
        m_ui.ShowMessage("Could not open the URL while another command is under way.");
        return;
    }
    m_urlRun = std::move(run);
}

void DocCommands::CancelUrlFetch() {
    if (m_urlRun) {
        *m_urlRun->cancel = true;
    }
}

void DocCommands::OnUrlLoaded(UrlDocument loaded) {
    std::unique_ptr<UrlFetchRun> run = std::move(m_urlRun);
    UrlOpenResult result = UrlOpenResult::NotFetched;
    try {
        result = m_doc.FinishOpenUrl(std::move(loaded), ProgressOf(run->progress));
    } catch (const std::exception& e) {
        run->progress.Clear();
        m_ui.ShowMessage("Could not open the URL:\n" + std::string(e.what()));
    }
    if (result == UrlOpenResult::Opened) {
        m_frame.SourceView()->ShowParseError(nullptr);
        m_frame.UpdateTitle();
    }
    run.reset();  // the progress bar goes with the command
}

}  // namespace quorrel
