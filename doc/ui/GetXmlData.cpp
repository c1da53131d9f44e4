#include "doc/ui/GetXmlData.h"

#include <QApplication>
#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/core/XmlGenerator.h"
#include "db/ui/AttrElemDlg.h"
#include "db/ui/DataSourceDlg.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "framework/ui/BackgroundWork.h"
#include "framework/ui/ProgressBar.h"
#include "framework/ui/UserInterface.h"
#include "views/source/ui/DView.h"
#include "views/window/ui/DocWindow.h"

namespace quorrel {

namespace {

constexpr const char* kGeneratedName = "Quorreldata.xml";

// One Get Xml Data from the mapping's OK until the document is in place. The
// queries run apart, one job after another; between the jobs only the
// window's thread touches it.
struct GetXmlDataRun {
    GetXmlDataRun(CDoc& doc, UserInterface& ui, CDocWindow& frame, CXmlGenerator generator)
        : doc(doc),
          ui(ui),
          frame(frame),
          progress(&frame.HostWindow()),
          generator(std::move(generator)) {}
    CDoc& doc;
    UserInterface& ui;
    CDocWindow& frame;
    CProgressBar progress;  // the command's own: no busy bar beside it
    CXmlGenerator generator;
    CollectingSink messages;
    std::vector<std::string> columns;
    std::unique_ptr<XmlDocument> dom;  // built apart: a failure leaves the document's as it was
    std::string text;
    PreparedText prepared;
};

using Run = std::shared_ptr<GetXmlDataRun>;

// What the driver said, in the order it said it, then why the job failed, if it did.
void ShowMessages(const Run& run, const std::string& failure = {}) {
    for (const std::string& message : std::exchange(run->messages.messages, {})) {
        run->ui.ShowMessage(message);
    }
    if (!failure.empty()) {
        run->ui.ShowMessage(failure);
    }
}

// step runs on the worker and says whether to go on; next, on the window's
// thread, after the driver's messages.
void RunApart(const Run& run, std::function<bool(GetXmlDataRun&)> step,
              std::function<void(const Run&)> next) {
    const bool started = run->frame.Work().Start(
        QStringLiteral("Getting XML data…"),
        [run, step = std::move(step), next = std::move(next)]() -> CBackgroundWork::Continuation {
            const bool ok = step(*run);
            return [run, ok, next] {
                ShowMessages(run);
                if (ok) {
                    next(run);
                }
            };
        },
        [run](const std::string& failure) { ShowMessages(run, failure); }, false);
    if (!started) {
        run->ui.ShowMessage("Another command is under way.");
    }
}

void PutInPlace(const Run& run) {
    CDoc& doc = run->doc;
    CDView* sourceView = run->frame.SourceView();
    run->progress.SetPos(45);
    doc.SetLocalPathName(std::filesystem::absolute(kGeneratedName).string());
    doc.SetCodec(TextCodec());
    doc.SetDom(std::move(run->dom));
    sourceView->UsePreparedText(std::move(run->prepared));
    sourceView->SetDocumentText(run->text);
    doc.SyncText(std::move(run->text));  // the document holds the view's text already
    doc.UpdateAllViews(sourceView);      // the tree parses the new text
    run->progress.SetPos(60);
    doc.SetModifiedFlag(true);
    run->progress.Clear();
    run->frame.UpdateTitle();
}

void ShowGenerated(const Run& run) {
    run->progress.SetPos(30);
    if (run->text.size() < CDView::kPrepareFrom) {
        PutInPlace(run);
        return;
    }
    // A large text becomes the pane's document apart.
    run->prepared = run->frame.SourceView()->PrepareText(run->text.size());
    RunApart(
        run,
        [](GetXmlDataRun& r) {
            r.prepared.Fill(r.text);
            return true;
        },
        PutInPlace);
}

bool Generate(GetXmlDataRun& run) {
    run.dom = std::make_unique<XmlDocument>();
    if (run.generator.Generate(*run.dom, run.messages) != 0) {
        return false;  // the reason goes to the user
    }
    try {
        run.text = run.dom->xml();
    } catch (const std::bad_alloc&) {
        run.messages.ShowMessage(std::string(CXmlGenerator::kNoMemoryMessage));
        return false;
    }
    return true;
}

void MapColumns(const Run& run) {
    run->doc.ColumnNames() = std::move(run->columns);
    CAttrElemDlg mapping(run->doc.ColumnNames(), &run->frame.HostWindow());
    if (mapping.exec() != QDialog::Accepted) {
        return;
    }
    run->generator.SetColumnModes(run->doc.ColumnNames());
    run->progress.SetPos(15);
    RunApart(run, Generate, ShowGenerated);
}

void AskAndGenerate(CDoc& doc, UserInterface& ui, CDocWindow& frame) {
    doc.ColumnNames().clear();

    CXmlGenerator& settings = XmlGeneratorOf(doc);
    CDataSourceDlg source(ui, &frame.HostWindow());
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

    CXmlGenerator generator(source.m_strDsn, source.m_strUser, source.m_strPassword,
                            source.m_nMaxRows);
    generator.SetQuery(source.m_strQuery);
    auto run = std::make_shared<GetXmlDataRun>(doc, ui, frame, std::move(generator));
    run->progress.Create(QString(), 100, 100, false, 1);
    run->progress.SetRange(0, 60, 1);
    RunApart(
        run, [](GetXmlDataRun& r) { return r.generator.CollectColumnNames(r.columns, r.messages); },
        MapColumns);
}

}  // namespace

void OnGetXmlData(CDoc& doc, UserInterface& ui, CDocWindow& frame, DocCommands& commands) {
    commands.SaveModified([&doc, &ui, &frame](bool replaceable) {
        if (replaceable) {  // Cancel in the save prompt stops the command
            AskAndGenerate(doc, ui, frame);
        }
    });
}

}  // namespace quorrel
