// The editor's own artwork, drawn in code: the tree images, the toolbar
// buttons and the application icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace quorrel {

// Tree images 0 to 7, 16 by 16.
QPixmap TreeImage(int index);
// A toolbar button, 16 by 15; a null icon for commands without artwork.
QIcon ToolbarIcon(int command);
QPixmap AppPixmap(int size);
QIcon AppIcon();

}  // namespace quorrel
