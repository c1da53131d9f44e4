// The application: settings, the one document, the main window, and the
// commands that belong to no window (New, Open, recent files, About, Exit).
#pragma once

#include <QSettings>
#include <QStringList>
#include <memory>

#include "app/ui/CommandTarget.h"

class QPrinter;

namespace quorrel {

class CDoc;
class CMainFrame;
class UserInterface;

class CXmlEditApp : public CommandTarget {
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

    bool OnFileNew();
    bool OnFileOpen();
    // Opens path as File > Open does; false when the file could not be read.
    bool OpenDocumentFile(const QString& path);
    void AddRecentFile(const QString& path);
    QStringList RecentFiles() const { return m_recent; }
    void OnAppAbout();
    void OnAppExit();
    void OnHelpTopics();
    // Where the help lives; empty when it cannot be found.
    static QString HelpFile();

    QSettings& Settings() { return m_settings; }

private:
    void RegisterCommands();
    void OpenRecent(int index);

    QSettings m_settings{QStringLiteral("Hollenby"), QStringLiteral("QUORREL")};
    std::unique_ptr<UserInterface> m_ui;
    std::unique_ptr<CDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<QPrinter> m_printer;
    QStringList m_recent;
};

}  // namespace quorrel
