// The window's questions answered without a person: discard changes, open the
// name set beforehand, and the one answer given to every yes-or-no question.
// Messages go to standard error.
#pragma once

#include <cstdio>
#include <string>

#include "framework/ui/UserInterface.h"

namespace quorrel {

class SilentUi : public UserInterface {
public:
    explicit SilentUi(bool yes) : m_yes(yes) {}
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    SaveAnswer AskSaveChanges(const QString&) override { return SaveAnswer::Discard; }
    QString AskOpenFileName() override { return openName; }
    QString AskSaveFileName(const QString&) override { return {}; }
    using UserInterface::AskYesNo;
    bool AskYesNo(const QString&, Answer) override { return m_yes; }
    QString openName;

private:
    bool m_yes;
};

}  // namespace quorrel
