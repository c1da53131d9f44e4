#include "db/ui/GetXmlData.h"

#include <QApplication>
#include <QCursor>
#include <filesystem>

#include "app/ui/MainFrame.h"
#include "app/ui/ProgressBar.h"
#include "app/ui/UserInterface.h"
#include "db/core/XmlGenerator.h"
#include "db/ui/AttrElemDlg.h"
#include "db/ui/DataSourceDlg.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "views/source/ui/DView.h"

namespace quorrel {

namespace {

constexpr const char* kGeneratedName = "Quorreldata.xml";

// The queries block the window; the cursor says so while they run.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void OnGetXmlData(CDoc& doc, UserInterface& ui, CMainFrame& frame, DocCommands& commands) {
    if (!commands.SaveModified()) {
        return;  // Cancel in the save prompt stops the command
    }
    doc.m_columnNames.clear();

    CXmlGenerator& settings = doc.m_xmlGenerator;
    CDataSourceDlg source(ui, &frame);
    source.m_strDsn = settings.GetDsn();
    source.m_strUser = settings.GetUser();
    source.m_strPassword = settings.GetPassword();
    source.m_strQuery = settings.GetQuery();
    source.m_nMaxRows = 500;  // always, whatever was entered before
    if (source.exec() != QDialog::Accepted) {
        return;
    }
    settings.SetDsn(source.m_strDsn);
    settings.SetUser(source.m_strUser);
    settings.SetPassword(source.m_strPassword);
    settings.SetQuery(source.m_strQuery);
    settings.SetMaxRows(source.m_nMaxRows);
    if (!settings.IsSelectQuery()) {
        ui.ShowMessage(std::string(CXmlGenerator::kInvalidQueryMessage));
        return;
    }

    CProgressBar progress(&frame);
    progress.Create(QString(), 100, 100, false, 1);
    progress.SetRange(0, 60, 1);
    CXmlGenerator generator(source.m_strDsn, source.m_strUser, source.m_strPassword,
                            source.m_nMaxRows);
    generator.SetQuery(source.m_strQuery);
    bool collected;
    {
        WaitCursor wait;
        collected = generator.CollectColumnNames(doc.m_columnNames, ui);
    }
    if (!collected) {
        return;  // the driver's message has been shown; nothing to map
    }
    CAttrElemDlg mapping(doc.m_columnNames, &frame);
    if (mapping.exec() != QDialog::Accepted) {
        return;
    }
    generator.SetColumnModes(doc.m_columnNames);
    progress.SetPos(15);

    // Built apart, so that a failure leaves the document's DOM as it was.
    auto dom = std::make_unique<XmlDocument>();
    std::string text;
    {
        WaitCursor wait;
        if (generator.Generate(*dom, ui) != 0) {
            return;  // the reason has been shown
        }
        progress.SetPos(30);
        try {
            text = dom->xml();
        } catch (const std::bad_alloc&) {
            ui.ShowMessage(std::string(CXmlGenerator::kNoMemoryMessage));
            return;
        }
    }
    progress.SetPos(45);

    doc.SetLocalPathName(std::filesystem::absolute(kGeneratedName).string());
    doc.m_codec = TextCodec();
    doc.SetDom(std::move(dom));
    CDView* sourceView = frame.SourceView();
    sourceView->SetDocumentText(text);
    doc.m_strText = std::move(text);
    doc.m_bTextPending = false;  // the document holds the view's text already
    {
        WaitCursor wait;
        doc.UpdateAllViews(sourceView);  // the tree parses the new text
    }
    progress.SetPos(60);
    doc.SetModifiedFlag(true);
    progress.Clear();
    frame.UpdateTitle();
}

}  // namespace quorrel
