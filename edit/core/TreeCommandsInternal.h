// Shared by the tree commands' files (TreeCommands.cpp, DomChanges.cpp);
// not for callers.
#pragma once

#include "edit/core/TreeCommands.h"

namespace quorrel::commands_detail {

// What a command's current item names: an element, one of its attributes,
// or one of its texts.
enum class Addresses { Element, Attribute, Text };

Addresses AddressedKind(TreeCommand command);

}  // namespace quorrel::commands_detail
