#include "db/ui/GetXmlData.h"

#include <QApplication>
#include <filesystem>

#include "app/ui/BackgroundWork.h"
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

// The queries run apart, the window live meanwhile; what the driver said is
// shown afterwards, in the order it said it.
bool RunApart(CMainFrame& frame, UserInterface& ui, const std::function<bool(MessageSink&)>& work) {
    CollectingSink messages;
    bool ok = false;
    // The command's own progress bar shows it is under way.
    std::string failure = frame.Work().Run(
        QStringLiteral("Getting XML data…"), [&] { ok = work(messages); }, false);
    for (const std::string& message : messages.messages) {
        ui.ShowMessage(message);
    }
    if (!failure.empty()) {
        ui.ShowMessage(failure);
        return false;
    }
    return ok;
}

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
    bool collected = RunApart(frame, ui, [&](MessageSink& messages) {
        return generator.CollectColumnNames(doc.m_columnNames, messages);
    });
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
    CDView* sourceView = frame.SourceView();
    PreparedText prepared;
    bool generated = RunApart(frame, ui, [&](MessageSink& messages) {
        if (generator.Generate(*dom, messages) != 0) {
            return false;  // the reason goes to the user
        }
        try {
            text = dom->xml();
        } catch (const std::bad_alloc&) {
            messages.ShowMessage(std::string(CXmlGenerator::kNoMemoryMessage));
            return false;
        }
        return true;
    });
    if (!generated) {
        return;
    }
    progress.SetPos(30);
    if (text.size() >= CDView::kPrepareFrom) {
        prepared = sourceView->PrepareText(text.size());
        frame.Work().Run(
            QStringLiteral("Getting XML data…"), [&] { prepared.Fill(text); }, false);
    }
    progress.SetPos(45);

    doc.SetLocalPathName(std::filesystem::absolute(kGeneratedName).string());
    doc.m_codec = TextCodec();
    doc.SetDom(std::move(dom));
    sourceView->UsePreparedText(std::move(prepared));
    sourceView->SetDocumentText(text);
    doc.m_strText = std::move(text);
    doc.m_bTextPending = false;      // the document holds the view's text already
    doc.UpdateAllViews(sourceView);  // the tree parses the new text
    progress.SetPos(60);
    doc.SetModifiedFlag(true);
    progress.Clear();
    frame.UpdateTitle();
}

}  // namespace quorrel
