// Every message box goes through one sink, so the window shows it and the
// command line and the tests read it.
#pragma once

#include <string>
#include <vector>

namespace quorrel {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // A modal message with an OK button, captioned "QUORREL".
    virtual void ShowMessage(const std::string& text) = 0;
};

// Keeps the messages, for the command line and the tests.
class CollectingSink : public MessageSink {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

}  // namespace quorrel
