// Freeing a large document takes about as long as parsing it. What is
// replaced goes to the disposal thread (one for the program's life), so the
// one that replaced it goes on; whatever is still waiting when the program
// ends is left to the system.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "doc/core/XmlDom.h"

namespace quorrel {

// Something large to free apart: its destructor runs on the disposal thread.
class Disposable {
public:
    virtual ~Disposable() = default;
};

// Frees the document now when it is small, else on the disposal thread.
void DisposeOf(std::unique_ptr<XmlDocument> document);
// Frees what is handed over on the disposal thread (in the order handed).
void DisposeOf(std::unique_ptr<Disposable> thing);

// A value of any movable type, freed on the disposal thread: a long text,
// the items of a large tree.
template <class T>
void DisposeOfValue(T value) {
    struct Held : Disposable {
        explicit Held(T v) : value(std::move(v)) {}
        T value;
    };
    DisposeOf(std::unique_ptr<Disposable>(std::make_unique<Held>(std::move(value))));
}
// A replaced text: freed at once when short, else apart.
void DisposeOfText(std::string text);

// Keeps the document until the program ends, never freeing it: for a
// program about to end, whose memory the system takes back at once.
void AbandonAtExit(std::unique_ptr<XmlDocument> document);
// From now on DisposeOf keeps what it is handed until the program ends
// (for a program that does one thing and ends).
void LeaveDocumentsToTheSystem();
// Returns once everything handed over before the call has been freed.
void WaitForDisposal();

}  // namespace quorrel
