#pragma once
// The tool buttons' small pictures, drawn in code: folders, sheets, plus and minus
// signs, arrows; and the listing's padlock and warning sign. Signs and arrows are drawn in `ink`, the
// buttons' text colour, so that they show on light and dark themes alike.
#include <QIcon>

namespace pellux::toolglyphs {

QIcon NewArchive();                       // closed yellow folder
QIcon OpenArchive();                      // open yellow folder
QIcon AddFiles(const QColor &ink);        // plus sign, yellow sheet
QIcon AddDirectory(const QColor &ink);    // plus sign, closed yellow folder
QIcon DeleteFiles(const QColor &ink);     // minus sign, red sheet
QIcon ExtractSelected(const QColor &ink); // closed folder, one arrow to the right
QIcon ExtractAll(const QColor &ink);      // closed folder, two arrows to the right
QIcon Locked();                           // padlock: the listing's mark of an encrypted entry
QIcon Warned();                           // warning sign: extraction refuses or changes the entry
QIcon Unmarked();                         // as large as Locked and empty, to keep names in line with it

} // namespace pellux::toolglyphs
