#pragma once
// The small pictures of the dialogs, drawn in code so that they scale and need no
// image plug-in. Each disabled variant is the same drawing in greys.
#include <QIcon>
#include <QPixmap>

namespace pellux::glyphs {

QPixmap AppPixmap(int size);
QIcon NewArchive();   // a page with a plus: "Create a new ZIP archive"
QIcon OpenArchive();  // an open folder with an arrow: "Open an existing ZIP archive"
QIcon FolderOpen();   // the directory list's path entries
QIcon FolderClosed(); // the directory list's subdirectories
QIcon OkTick();

} // namespace pellux::glyphs
