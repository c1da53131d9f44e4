// Shared by the parse hooks' files (ParseHooks.cpp, ParseCallbacks.cpp);
// not for callers.
#pragma once

#include <libxml/parser.h>

#include "doc/core/ParseHooks.h"

namespace quorrel::hooks_detail {

// The hooks of the parse under way on this thread, for the SAX callbacks.
extern thread_local ParseHooks* t_hooks;

bool IsSpace(xmlChar c);
bool HasDtd(xmlParserCtxtPtr ctxt);
// Unlinks and frees a node the parse built but the tree does not keep.
void Free(xmlNodePtr node);

}  // namespace quorrel::hooks_detail
