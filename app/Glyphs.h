#pragma once
// The tool buttons' small pictures, drawn in code: folders, sheets, plus and minus
// signs, arrows; and the listing's padlock.
#include <QIcon>

namespace pellux::toolglyphs {

QIcon NewArchive();      // closed yellow folder
QIcon OpenArchive();     // open yellow folder
QIcon AddFiles();        // plus sign, yellow sheet
QIcon AddDirectory();    // plus sign, closed yellow folder
QIcon DeleteFiles();     // minus sign, red sheet
QIcon ExtractSelected(); // closed folder, one arrow to the right
QIcon ExtractAll();      // closed folder, two arrows to the right
QIcon Locked();          // padlock: the listing's mark of an encrypted entry
QIcon Unmarked();        // as large as Locked and empty, to keep names in line with it

} // namespace pellux::toolglyphs
