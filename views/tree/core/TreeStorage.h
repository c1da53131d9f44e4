// How a CTreeItems holds its items: shared by the tree items' files
// (TreeItems.cpp, TreeBuild.cpp); not for callers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "views/tree/core/TreeItems.h"

namespace quorrel {

struct TreeStorage {
    std::vector<CTreeItem> items;  // the top items first, then each item's children together
    std::string labels;
    std::size_t topCount = 0;
};

}  // namespace quorrel
