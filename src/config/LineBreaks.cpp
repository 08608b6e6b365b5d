#include "config/LineBreaks.h"

namespace quorvane::LineBreaks {

bool isLineBreak(QChar character) {
    switch (character.unicode()) {
        case 0x000A:
        case 0x000B:
        case 0x000C:
        case 0x000D:
        case 0x0085:
        case 0x2028:
        case 0x2029:
            return true;
        default:
            return false;
    }
}

bool containsLineBreak(QStringView text) {
    for (QChar character : text) {
        if (isLineBreak(character)) {
            return true;
        }
    }
    return false;
}

QList<QStringView> split(QStringView text) {
    QList<QStringView> lines;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isLineBreak(text[i])) {
            continue;
        }
        lines.append(text.sliced(lineStart, i - lineStart));
        if (text[i] == QLatin1Char('\r') && i + 1 < text.size() &&
            text[i + 1] == QLatin1Char('\n')) {
            ++i;
        }
        lineStart = i + 1;
    }
    lines.append(text.sliced(lineStart));
    return lines;
}

}  // namespace quorvane::LineBreaks
