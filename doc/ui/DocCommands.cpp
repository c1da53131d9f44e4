#include "doc/ui/DocCommands.h"

#include <QFileInfo>

#include "app/ui/Commands.h"
#include "app/ui/MainFrame.h"
#include "app/ui/UserInterface.h"
#include "doc/core/Doc.h"
#include "views/source/ui/DView.h"

namespace quorrel {

DocCommands::DocCommands(CDoc& doc, UserInterface& ui, CMainFrame& frame) : m_doc(doc), m_ui(ui), m_frame(frame) {
    On(ID_FILE_SAVE, [this] { OnFileSave(); });
    On(ID_FILE_SAVE_AS, [this] { OnFileSaveAs(); });
    On(ID_VALIDATE_YES, [this] { m_doc.OnValidateYes(); }, [this] { return m_doc.CanValidateYes(); });
    On(ID_VALIDATE_NO, [this] { m_doc.OnValidateNo(); }, [this] { return m_doc.CanValidateNo(); });
    On(ID_PARSE, [this] { m_doc.OnParse(); });
}

QString DocCommands::Title() const {
    if (m_doc.GetPathName().empty()) {
        return QStringLiteral("Quorrel");
    }
    return QFileInfo(QString::fromStdString(m_doc.GetPathName())).fileName();
}

bool DocCommands::DoSave(const QString& path) {
    std::string error = m_doc.OnSaveDocument(path.toStdString(), m_frame.SourceView()->Text());
    if (!error.empty()) {
        m_ui.ShowMessage(error);
        return false;
    }
    m_frame.UpdateTitle();
    return true;
}

bool DocCommands::OnFileSave() {
    if (m_doc.GetPathName().empty()) {
        return OnFileSaveAs();
    }
    return DoSave(QString::fromStdString(m_doc.GetPathName()));
}

bool DocCommands::OnFileSaveAs() {
    QString suggested =
        m_doc.GetPathName().empty() ? Title() + QStringLiteral(".xml") : QString::fromStdString(m_doc.GetPathName());
    QString path = m_ui.AskSaveFileName(suggested);
    if (path.isEmpty()) {
        return false;
    }
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".xml");
    }
    return DoSave(path);
}

bool DocCommands::SaveModified() {
    if (!m_doc.IsModified()) {
        return true;
    }
    switch (m_ui.AskSaveChanges(Title())) {
        case SaveAnswer::Save: return OnFileSave();
        case SaveAnswer::Discard: return true;
        case SaveAnswer::Cancel: return false;
    }
    return false;
}

}  // namespace quorrel
