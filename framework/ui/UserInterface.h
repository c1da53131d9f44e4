// The window's questions to the user, behind one interface so the tests can
// answer them: message boxes, the save prompt, file dialogs.
#pragma once

#include <QString>

#include "doc/core/MessageSink.h"

class QWidget;

namespace quorrel {

enum class SaveAnswer { Save, Discard, Cancel };
// The button a question's Enter key presses.
enum class Answer { Yes, No };

class UserInterface : public MessageSink {
public:
    // "Save changes to <name>?"
    virtual SaveAnswer AskSaveChanges(const QString& documentName) = 0;
    // Empty when cancelled.
    virtual QString AskOpenFileName() = 0;
    virtual QString AskSaveFileName(const QString& suggested) = 0;
    // Yes/No question; true for Yes.
    virtual bool AskYesNo(const QString& text, Answer byDefault) = 0;
    bool AskYesNo(const QString& text) { return AskYesNo(text, Answer::Yes); }
};

// Real dialogs: message boxes captioned "QUORREL", no icon, OK only.
class DialogUserInterface : public UserInterface {
public:
    explicit DialogUserInterface(QWidget* parent) : m_parent(parent) {}
    void ShowMessage(const std::string& text) override;
    SaveAnswer AskSaveChanges(const QString& documentName) override;
    QString AskOpenFileName() override;
    QString AskSaveFileName(const QString& suggested) override;
    using UserInterface::AskYesNo;
    bool AskYesNo(const QString& text, Answer byDefault) override;

private:
    QWidget* m_parent;
};

// The application title, caption of every message box.
inline const char* kAppTitle = "QUORREL";

}  // namespace quorrel
