// Answers the window's questions from a script and keeps its messages.
#pragma once

#include <QStringList>
#include <deque>
#include <string>
#include <vector>

#include "app/ui/UserInterface.h"

namespace quorrel {

class ScriptedUi : public UserInterface {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    SaveAnswer AskSaveChanges(const QString& name) override {
        savePrompts << name;
        return saveAnswer;
    }
    QString AskOpenFileName() override { return Next(openNames); }
    QString AskSaveFileName(const QString&) override { return Next(saveNames); }
    bool AskYesNo(const QString& text) override {
        questions << text;
        return yes;
    }

    std::vector<std::string> messages;
    QStringList savePrompts, questions;
    SaveAnswer saveAnswer = SaveAnswer::Discard;
    std::deque<QString> openNames, saveNames;
    bool yes = true;

private:
    static QString Next(std::deque<QString>& queue) {
        if (queue.empty()) {
            return {};
        }
        QString next = queue.front();
        queue.pop_front();
        return next;
    }
};

}  // namespace quorrel
