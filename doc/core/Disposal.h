// Freeing a large document takes about as long as parsing it. What is
// replaced goes to a thread of its own, so the one that replaced it goes on;
// whatever is still waiting when the program ends is left to the system.
#pragma once

#include <memory>

#include "doc/core/XmlDom.h"

namespace quorrel {

// Frees the document now when it is small, else on the disposal thread.
void DisposeOf(std::unique_ptr<XmlDocument> document);
// Keeps the document until the program ends, never freeing it: for a
// program about to end, whose memory the system takes back at once.
void AbandonAtExit(std::unique_ptr<XmlDocument> document);
// From now on DisposeOf keeps what it is handed until the program ends
// (for a program that does one thing and ends).
void LeaveDocumentsToTheSystem();
// Waits until everything handed over has been freed (the tests use it).
void WaitForDisposal();

}  // namespace quorrel
