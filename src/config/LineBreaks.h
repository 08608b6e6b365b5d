#pragma once

#include <QList>
#include <QStringView>

namespace quorvane::LineBreaks {

// LF, VT, FF, CR, NEL, U+2028 and U+2029.
bool isLineBreak(QChar character);
bool containsLineBreak(QStringView text);

// Cuts text at every line break, CR LF counting as one. Empty pieces stay, so the pieces
// number the lines of the text from 1; a final break yields one more, empty, piece.
QList<QStringView> split(QStringView text);

}  // namespace quorvane::LineBreaks
