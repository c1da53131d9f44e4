// Answers the window's questions from a script and keeps its messages.
#pragma once

#include <QStringList>
#include <deque>
#include <string>
#include <vector>

#include "framework/ui/UserInterface.h"

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
    using UserInterface::AskYesNo;
    bool AskYesNo(const QString& text, Answer byDefault) override {
        questions << text;
        defaults.push_back(byDefault);
        return answers.empty() ? yes : Next(answers);
    }

    std::vector<std::string> messages;
    QStringList savePrompts, questions;
    SaveAnswer saveAnswer = SaveAnswer::Discard;
    std::deque<QString> openNames, saveNames;
    std::vector<Answer> defaults;  // of each question asked
    std::deque<bool> answers;      // the next questions' answers; then yes
    bool yes = true;

private:
    template <class T>
    static T Next(std::deque<T>& queue) {
        if (queue.empty()) {
            return {};
        }
        T next = queue.front();
        queue.pop_front();
        return next;
    }
};

}  // namespace quorrel
