#include "app/ui/XmlEditApp.h"

#include <Qsci/qsciprinter.h>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <QPageSetupDialog>

#include <exception>
#include <system_error>
#include <thread>

#include "app/ui/AboutDlg.h"
#include "app/ui/HelpWindow.h"
#include "app/ui/MainFrame.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "framework/ui/BackgroundWork.h"
#include "framework/ui/Commands.h"
#include "framework/ui/ProgressBar.h"
#include "framework/ui/UserInterface.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

namespace quorrel {

// One open in the background, from the file's name until the document is in
// place: two jobs, reading the file, then showing its text and parsing it.
// While a job runs only the worker touches what the job fills in.
struct CXmlEditApp::FileOpenRun {
    std::string path;  // absolute
    LoadOptions options;
    bool large = false;  // shows the busy bar
    FileDocument file;
    CTreeItems items;
    CTreeRows rows;
    PreparedText prepared;  // the source pane's document, filled apart
    bool textShown = false;
    std::function<void(bool)> done;
};

namespace {

constexpr int kRecentFiles = 4;

// Forwards to the real dialogs once the main window exists.
class LateDialogs : public UserInterface {
public:
    void SetParent(QWidget* parent) { m_dialogs = std::make_unique<DialogUserInterface>(parent); }
    void ShowMessage(const std::string& text) override { Dialogs().ShowMessage(text); }
    SaveAnswer AskSaveChanges(const QString& name) override {
        return Dialogs().AskSaveChanges(name);
    }
    QString AskOpenFileName() override { return Dialogs().AskOpenFileName(); }
    QString AskSaveFileName(const QString& suggested) override {
        return Dialogs().AskSaveFileName(suggested);
    }
    using UserInterface::AskYesNo;
    bool AskYesNo(const QString& text, Answer byDefault) override {
        return Dialogs().AskYesNo(text, byDefault);
    }

private:
    DialogUserInterface& Dialogs() {
        if (!m_dialogs) {
            m_dialogs = std::make_unique<DialogUserInterface>(nullptr);
        }
        return *m_dialogs;
    }
    std::unique_ptr<DialogUserInterface> m_dialogs;
};

}  // namespace

CXmlEditApp::CXmlEditApp(std::unique_ptr<UserInterface> ui) : m_ui(std::move(ui)) {
    if (!m_ui) {
        m_ui = std::make_unique<LateDialogs>();
    }
    m_doc = std::make_unique<CDoc>(*m_ui);
    m_recent =
        m_settings.value(QStringLiteral("Recent File List")).toStringList().mid(0, kRecentFiles);
    RegisterCommands();
}

CXmlEditApp::~CXmlEditApp() {
    m_frame.reset();  // its runner waits for the job; the views leave the document before it goes
    m_openRun.reset();
}

bool CXmlEditApp::InitInstance(const QString& file) {
    m_frame = std::make_unique<CMainFrame>(*this, *m_doc, *m_ui);
    if (auto* late = dynamic_cast<LateDialogs*>(m_ui.get())) {
        late->SetParent(m_frame.get());
    }
    m_frame->SetRecentFiles(m_recent);
    // A large file is opened as File > Open opens it: the window first, its
    // text as soon as it is read, the tree when it is parsed. If it cannot be
    // read after all, the program ends as it does for a file it cannot open.
    QFileInfo named(file);
    const bool apart = !file.isEmpty() && named.isFile() && named.isReadable() &&
                       std::size_t(named.size()) >= CBackgroundWork::kApartFrom;
    bool ok = file.isEmpty() ? (NewDocument(), true) : apart || OpenDocumentFile(file);
    if (!ok) {
        return false;
    }
    m_frame->show();
    m_frame->SetActivePane(m_frame->SourceView());
    m_frame->UpdateCommandUI();
    if (apart) {
        OpenDocumentFileInBackground(file, [](bool opened) {
            if (!opened) {
                QCoreApplication::exit(1);
            }
        });
    }
    return true;
}

void CXmlEditApp::LeaveDocumentAtExit() {
    // The program is about to end: the system takes the memory back at once.
    AbandonAtExit(m_doc->TakeDom());
}

void CXmlEditApp::OnFileNew() {
    m_frame->Document().SaveModified([this](bool replaceable) {
        if (replaceable) {
            NewDocument();
        }
    });
}

void CXmlEditApp::NewDocument() {
    m_doc->OnNewDocument();
    m_doc->UpdateAllViews(nullptr);
    if (m_frame) {
        m_frame->SourceView()->ShowParseError(nullptr);
        m_frame->UpdateTitle();
    }
}

void CXmlEditApp::OnFileOpen() {
    m_frame->Document().SaveModified([this](bool replaceable) {
        if (!replaceable) {
            return;
        }
        QString path = m_ui->AskOpenFileName();
        if (!path.isEmpty()) {
            OpenDocumentFileInBackground(path);
        }
    });
}

bool CXmlEditApp::OpenDocumentFile(const QString& path) {
    FileDocument file = CDoc::ReadFileDocument(QFileInfo(path).absoluteFilePath().toStdString());
    if (file.error.empty()) {
        if (file.decoded.nulOffset) {
            ShowNulWarning(*file.decoded.nulOffset);  // before the text and any parse error
        }
        CDoc::ParseFileDocument(file, m_doc->FileParseOptions(file.path));
    }
    return ShowOpenedFile(m_doc->FinishOpenDocument(std::move(file)), nullptr, nullptr);
}

void CXmlEditApp::ShowNulWarning(std::size_t offset) {
    m_ui->ShowMessage(
        "The file holds a NUL character at byte " + std::to_string(offset) +
        ". The text ends there: what follows it is not shown, and a save will not write it.");
}

void CXmlEditApp::OpenDocumentFileInBackground(const QString& path,
                                               std::function<void(bool)> done) {
    if (IsOpening()) {
        return;
    }
    auto run = std::make_shared<FileOpenRun>();
    run->path = QFileInfo(path).absoluteFilePath().toStdString();
    run->options = m_doc->FileParseOptions(run->path);
    run->large = std::size_t(QFileInfo(path).size()) >= CBackgroundWork::kApartFrom;
    run->done = std::move(done);
    m_openRun = run;
    StartOpenJob(
        run, [](FileOpenRun& r) { r.file = CDoc::ReadFileDocument(r.path); },
        [this](const std::shared_ptr<FileOpenRun>& r) { OnFileRead(r); });
}

void CXmlEditApp::StartOpenJob(const std::shared_ptr<FileOpenRun>& run,
                               std::function<void(FileOpenRun&)> step,
                               std::function<void(const std::shared_ptr<FileOpenRun>&)> next) {
    const QString what =
        QStringLiteral("Opening %1…").arg(QFileInfo(QString::fromStdString(run->path)).fileName());
    const bool started = m_frame->Work().Start(
        what,
        [run, step = std::move(step), next = std::move(next)]() -> CBackgroundWork::Continuation {
            step(*run);
            return [run, next] { next(run); };
        },
        [this, run](const std::string& error) {
            run->file.error = "Cannot open '" + run->path + "':\n" + error;
            OnFileLoaded(run);
        },
        run->large);
    if (!started) {
        m_openRun.reset();
        m_ui->ShowMessage("Cannot open '" + run->path + "' while another command is under way.");
    }
}

void CXmlEditApp::OnFileRead(const std::shared_ptr<FileOpenRun>& run) {
    if (!run->file.error.empty()) {
        OnFileLoaded(run);
        return;
    }
    if (run->file.decoded.nulOffset) {
        ShowNulWarning(*run->file.decoded.nulOffset);  // before the text and any parse error
    }
    run->prepared = m_frame->SourceView()->PrepareText(run->file.decoded.text.size());
    // The text is shown while it is parsed: both only read it. It becomes the
    // pane's document on a thread of its own, and is shown once it has.
    CBackgroundWork* work = &m_frame->Work();
    StartOpenJob(
        run,
        [this, run, work](FileOpenRun& r) {
            std::jthread filler([this, run, work] {
                run->prepared.Fill(run->file.decoded.text);
                work->Post([this, run] { OnFileTextRead(run); });
            });
            ParseFileForTree(r.file, r.options, r.items);
            r.rows = CTreeRows::Of(r.items);
        },
        [this](const std::shared_ptr<FileOpenRun>& r) { OnFileLoaded(r); });
}

void CXmlEditApp::OnFileTextRead(const std::shared_ptr<FileOpenRun>& run) {
    if (m_openRun != run) {
        return;
    }
    run->textShown = true;
    m_frame->TreeView()->ShowNoItems();
    m_frame->SourceView()->UsePreparedText(std::move(run->prepared));
    m_frame->SourceView()->ShowLoadingText(run->file.decoded.text);
}

void CXmlEditApp::OnFileLoaded(const std::shared_ptr<FileOpenRun>& run) {
    if (m_openRun != run) {
        return;
    }
    m_openRun.reset();
    bool opened = false;
    if (!run->file.error.empty()) {
        m_frame->SourceView()->DropLoadingText();
        m_ui->ShowMessage(run->file.error);
        if (run->textShown) {
            m_frame->TreeView()->OnUpdate(nullptr);  // the document's own tree again
        }
    } else {
        opened = ShowOpenedFile(m_doc->FinishOpenDocument(std::move(run->file)), &run->items,
                                &run->rows);
    }
    m_frame->UpdateCommandUI();
    if (run->done) {
        run->done(opened);
    }
}

bool CXmlEditApp::ShowOpenedFile(const LoadResult& loaded, CTreeItems* built, CTreeRows* rows) {
    if (!loaded.opened) {
        m_ui->ShowMessage(loaded.error);
        return false;
    }
    if (built != nullptr) {
        m_frame->TreeView()->UseBuiltItems(std::move(*built), std::move(*rows));
    }
    m_doc->UpdateAllViews(nullptr);
    const ParseError& error = m_doc->Dom().parseError();
    m_frame->SourceView()->ShowParseError(error.line > 0 ? &error : nullptr);
    m_frame->UpdateTitle();
    AddRecentFile(QString::fromStdString(m_doc->GetPathName()));
    return true;
}

void CXmlEditApp::AddRecentFile(const QString& path) {
    m_recent.removeAll(path);
    m_recent.prepend(path);
    m_recent = m_recent.mid(0, kRecentFiles);
    m_settings.setValue(QStringLiteral("Recent File List"), m_recent);
    if (m_frame) {
        m_frame->SetRecentFiles(m_recent);
    }
}

void CXmlEditApp::OpenRecent(int index) {
    if (index >= m_recent.size()) {
        return;
    }
    QString path = m_recent[index];
    m_frame->Document().SaveModified([this, path](bool replaceable) {
        if (!replaceable) {
            return;
        }
        OpenDocumentFileInBackground(path, [this, path](bool opened) {
            if (!opened) {
                m_recent.removeAll(path);
                m_settings.setValue(QStringLiteral("Recent File List"), m_recent);
                m_frame->SetRecentFiles(m_recent);
            }
        });
    });
}

void CXmlEditApp::OnAppAbout() {
    CAboutDlg about(nullptr);
    about.exec();
}

void CXmlEditApp::OnAppExit() {
    m_frame->close();
}

QString CXmlEditApp::HelpFile() {
    QString overridden = qEnvironmentVariable("QUORREL_HELP_DIR");
    QStringList folders;
    if (!overridden.isEmpty()) {
        folders << overridden;
    } else {
        QString appDir = QCoreApplication::applicationDirPath();
        folders << appDir + QStringLiteral("/../share/quorrel/help")
                << QStringLiteral(QUORREL_SOURCE_HELP_DIR);
    }
    for (const QString& folder : folders) {
        QFileInfo index(QDir(folder).filePath(QStringLiteral("index.html")));
        if (index.isReadable()) {
            return index.absoluteFilePath();
        }
    }
    return {};
}

void CXmlEditApp::OnHelpTopics() {
    QString file = HelpFile();
    if (file.isEmpty()) {
        m_ui->ShowMessage(
            "If you have IE 4.0 and upper,\nplease restart Quorrel and try this operation again.");
        return;
    }
    HelpWindow::Show(file, m_frame.get());
}

QsciPrinter& CXmlEditApp::Printer() {
    if (!m_printer) {
        m_printer = std::make_unique<QsciPrinter>();
        // The source pane's margins: 720 twips on every side.
        m_printer->setPageMargins(QMarginsF(0.5, 0.5, 0.5, 0.5), QPageLayout::Inch);
    }
    return *m_printer;
}

void CXmlEditApp::RegisterCommands() {
    On(ID_FILE_NEW, [this] { OnFileNew(); });
    On(ID_FILE_OPEN, [this] { OnFileOpen(); });
    On(ID_FILE_PRINT_SETUP, [this] {
        QPageSetupDialog dialog(&Printer(), m_frame.get());
        dialog.exec();
    });
    for (int i = 0; i < kRecentFiles; ++i) {
        On(
            ID_FILE_MRU_FILE1 + i, [this, i] { OpenRecent(i); },
            [this, i] { return i < m_recent.size(); });
    }
    On(ID_APP_ABOUT, [this] { OnAppAbout(); });
    On(ID_APP_EXIT, [this] { OnAppExit(); });
}

}  // namespace quorrel
