// The document's own commands in the window: Save, Save As, the validation
// switch and Parse, and the save prompt before the document is replaced.
#pragma once

#include <QString>

#include "app/ui/CommandTarget.h"

namespace quorrel {

class CDoc;
class CMainFrame;
class UserInterface;

class DocCommands : public CommandTarget {
public:
    DocCommands(CDoc& doc, UserInterface& ui, CMainFrame& frame);

    bool OnFileSave();
    bool OnFileSaveAs();
    // Asks to save a modified document; false when the user cancelled (or the save failed).
    bool SaveModified();
    // The document's title: its file name, or "Quorrel" for a new document.
    QString Title() const;

private:
    bool DoSave(const QString& path);

    CDoc& m_doc;
    UserInterface& m_ui;
    CMainFrame& m_frame;
};

}  // namespace quorrel
