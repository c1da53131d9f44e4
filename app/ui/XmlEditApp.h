// The application: settings, the one document, the main window, and the
// commands that belong to no window (New, Open, recent files, About, Exit).
#pragma once

#include <QSettings>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ui/FrameApp.h"
#include "framework/ui/CommandTarget.h"

class QsciPrinter;

namespace quorrel {

class CDoc;
class CMainFrame;
class CTreeItems;
class CTreeRows;
struct LoadResult;
class UserInterface;

class CXmlEditApp : public CFrameApp {
public:
    // ui: where messages and questions go; null for the real dialogs.
    explicit CXmlEditApp(std::unique_ptr<UserInterface> ui = nullptr);
    ~CXmlEditApp() override;

    // Creates the window and runs File > New, or opens file when one is named.
    // False when the named file cannot be opened.
    bool InitInstance(const QString& file = {});

    CDoc& Document() { return *m_doc; }
    CMainFrame& Frame() { return *m_frame; }
    UserInterface& UI() { return *m_ui; }

    // File > New and File > Open: each asks to save a modified document first.
    void OnFileNew();
    // Exit: the DOM is left to the system, not freed (seconds for a large one).
    void LeaveDocumentAtExit();
    void OnFileOpen();
    // Opens path on this thread; false when the file could not be read.
    bool OpenDocumentFile(const QString& path);
    // Opens path as File > Open does: read and parsed on another thread, the
    // text shown as soon as it is read; every command waits till the end.
    // done (if any) learns whether the file was opened.
    void OpenDocumentFileInBackground(const QString& path,
                                      std::function<void(bool opened)> done = {}) override;
    bool IsOpening() const override { return m_openRun != nullptr; }
    void AddRecentFile(const QString& path) override;
    QStringList RecentFiles() const { return m_recent; }
    void OnAppAbout();
    void OnAppExit();
    void OnHelpTopics() override;
    // The one printer of the run: File > Print Setup sets it up, Print and
    // Print Preview print on it. Made when first needed.
    QsciPrinter& Printer() override;
    // Where the help lives; empty when it cannot be found.
    static QString HelpFile();

    QSettings& Settings() override { return m_settings; }

private:
    struct FileOpenRun;

    void RegisterCommands();
    void NewDocument();
    void OpenRecent(int index);
    void StartOpenJob(const std::shared_ptr<FileOpenRun>& run,
                      std::function<void(FileOpenRun&)> step,
                      std::function<void(const std::shared_ptr<FileOpenRun>&)> next);
    void OnFileRead(const std::shared_ptr<FileOpenRun>& run);
    void OnFileTextRead(const std::shared_ptr<FileOpenRun>& run);
    // The text was cut at a NUL byte at offset: said before the text is shown.
    void ShowNulWarning(std::size_t offset);
    void OnFileLoaded(const std::shared_ptr<FileOpenRun>& run);
    // Shows a file the document has opened (or why it could not); built: its
    // tree items, if made already.
    bool ShowOpenedFile(const LoadResult& loaded, CTreeItems* built, CTreeRows* rows);

    QSettings m_settings{QStringLiteral("Hollenby"), QStringLiteral("QUORREL")};
    std::unique_ptr<UserInterface> m_ui;
    std::unique_ptr<CDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<QsciPrinter> m_printer;
    QStringList m_recent;
    std::shared_ptr<FileOpenRun> m_openRun;  // while a file is opened in the background
};

}  // namespace quorrel
