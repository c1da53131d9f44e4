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
#include "app/ui/BackgroundWork.h"
#include "app/ui/Commands.h"
#include "app/ui/HelpWindow.h"
#include "app/ui/MainFrame.h"
#include "app/ui/ProgressBar.h"
#include "app/ui/UserInterface.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

namespace quorrel {

// One open in the background, from the file's name until the document is in place.
struct CXmlEditApp::FileOpenRun {
    std::shared_ptr<FileDocument> file;  // the worker's until it has ended
    CTreeItems items;                    // likewise
    CTreeRows rows;
    PreparedText prepared;  // the source pane's document of a large file, filled apart
    bool textShown = false;
    bool warning = false;          // the NUL warning is on screen
    bool loadedMeanwhile = false;  // and the open ended while it was
    bool closeWhenDone = false;
    std::function<void(bool)> done;
    std::unique_ptr<CProgressBar> busy;  // a large file's, while it is read and parsed
    std::jthread worker;                 // declared last, so it is joined before the rest goes
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
    m_openRun.reset();  // waits for the worker; what it posted goes with the frame
    m_frame.reset();    // the views leave the document before it goes
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
    AbandonAtExit(std::move(m_doc->m_pDomDoc));
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
    std::string absolute = QFileInfo(path).absoluteFilePath().toStdString();
    LoadOptions options = m_doc->FileParseOptions(absolute);
    auto run = std::make_unique<FileOpenRun>();
    run->done = std::move(done);
    run->prepared = m_frame->SourceView()->PrepareText(std::size_t(QFileInfo(path).size()));
    FileOpenRun* current = run.get();
    // Handled on the window's thread, if this open is still the one under way.
    CBackgroundWork* work = &m_frame->Work();
    auto post = [this, current, work](auto handler) {
        work->Post([this, current, handler] {
            if (m_openRun.get() == current) {
                handler();
            }
        });
    };
    try {
        current->worker = std::jthread([this, current, absolute, options, post] {
            auto file = std::make_shared<FileDocument>();
            try {
                *file = CDoc::ReadFileDocument(absolute);
                if (file->error.empty()) {
                    // The text is shown while it is parsed: both only read it.
                    // A large one becomes the pane's document on a thread of its own.
                    std::jthread filler([current, file, post, this] {
                        current->prepared.Fill(file->decoded.text);
                        post([this, file] {
                            OnFileTextRead(file->decoded.text, file->decoded.nulOffset);
                        });
                    });
                    ParseFileForTree(*file, options, current->items);
                    current->rows = CTreeRows::Of(current->items);
                }
            } catch (const std::exception& e) {
                file->error = "Cannot open '" + absolute + "':\n" + e.what();
            }
            current->file = file;
            post([this] { OnFileLoaded(); });
        });
    } catch (const std::system_error& e) {
        m_ui->ShowMessage("Cannot open '" + absolute + "':\n" + e.what());
        return;
    }
    if (std::size_t(QFileInfo(path).size()) >= CBackgroundWork::kApartFrom) {
        // Busy, as long work on the document shows it; the tree comes seconds after the text.
        run->busy = std::make_unique<CProgressBar>(m_frame.get());
        run->busy->Create(QString(), 100, 100, false, 1);
        run->busy->SetRange(0, 0, 1);
    }
    m_openRun = std::move(run);
    m_frame->ShowWorkUnderWay(QStringLiteral("Opening %1…").arg(QFileInfo(path).fileName()));
    // The file's text replaces the view's: nothing typed meanwhile may be lost unseen.
    m_frame->SourceView()->setReadOnly(true);
    m_frame->UpdateCommandUI();
}

void CXmlEditApp::CloseWhenOpened() {
    if (m_openRun) {
        m_openRun->closeWhenDone = true;
    }
}

void CXmlEditApp::OnFileTextRead(const std::string& text, std::optional<std::size_t> nulOffset) {
    if (nulOffset) {
        // A message box runs the event loop: the end of the open waits for it.
        m_openRun->warning = true;
        ShowNulWarning(*nulOffset);
        m_openRun->warning = false;
    }
    m_openRun->textShown = true;
    m_frame->TreeView()->ShowNoItems();
    m_frame->SourceView()->UsePreparedText(std::move(m_openRun->prepared));
    m_frame->SourceView()->ShowLoadingText(text);
    if (m_openRun->loadedMeanwhile) {
        OnFileLoaded();
    }
}

void CXmlEditApp::OnFileLoaded() {
    if (m_openRun->warning) {
        m_openRun->loadedMeanwhile = true;
        return;
    }
    std::unique_ptr<FileOpenRun> run = std::move(m_openRun);
    run->worker.join();
    run->busy.reset();
    m_frame->EndWorkUnderWay();
    m_frame->SourceView()->setReadOnly(false);
    bool opened = false;
    if (!run->file->error.empty()) {
        m_frame->SourceView()->DropLoadingText();
        m_ui->ShowMessage(run->file->error);
        if (run->textShown) {
            m_frame->TreeView()->OnUpdate(nullptr);  // the document's own tree again
        }
    } else {
        opened = ShowOpenedFile(m_doc->FinishOpenDocument(std::move(*run->file)), &run->items,
                                &run->rows);
    }
    m_frame->UpdateCommandUI();
    if (run->done) {
        run->done(opened);
    }
    if (run->closeWhenDone) {
        m_frame->close();
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
    const ParseError& error = m_doc->m_pDomDoc->parseError();
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
