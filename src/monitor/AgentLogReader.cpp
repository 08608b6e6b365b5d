#include "monitor/AgentLogReader.h"

#include <sys/stat.h>

#include <QFile>
#include <QStringDecoder>
#include <algorithm>

#include "config/AgentContract.h"
#include "config/LineBreaks.h"
#include "system/ReadOnlyFile.h"

namespace quorvane {

namespace {

// Bytes read before the window: enough to see whether the longest line break (three bytes in
// UTF-8) ends exactly where the window begins.
constexpr qint64 lookBehind = 3;

// The byte length of the line break that starts at `index`, or 0. UTF-8 lead bytes never occur
// inside another character, so matching raw bytes is safe even where a character is cut off.
qsizetype lineBreakLength(QByteArrayView bytes, qsizetype index) {
    const auto at = [&](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0; };
    switch (at(index)) {
        case 0x0A:
        case 0x0B:
        case 0x0C:
            return 1;
        case 0x0D:
            return at(index + 1) == 0x0A ? 2 : 1;
        case 0xC2:  // NEL
            return at(index + 1) == 0x85 ? 2 : 0;
        case 0xE2:  // U+2028, U+2029
            return at(index + 1) == 0x80 && (at(index + 2) == 0xA8 || at(index + 2) == 0xA9) ? 3
                                                                                             : 0;
        default:
            return 0;
    }
}

// Where the first whole line begins when the window was cut out of a larger file: just after
// the first line break that ends at or after the window's start (`windowStart` in `bytes`).
qsizetype firstWholeLine(QByteArrayView bytes, qsizetype windowStart) {
    for (qsizetype index = 0; index < bytes.size(); ++index) {
        const qsizetype end = index + lineBreakLength(bytes, index);
        if (end > index && end >= windowStart) {
            return end;
        }
    }
    return bytes.size();
}

// An append in progress may have stopped inside a character; such a cut-off character at the
// very end is left for the next read instead of failing the whole decoding.
QByteArrayView withoutCutOffCharacter(QByteArrayView bytes) {
    for (qsizetype back = 1; back <= std::min<qsizetype>(4, bytes.size()); ++back) {
        const uchar byte = uchar(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80) {
            continue;  // a continuation byte: keep looking for the character's lead byte
        }
        const qsizetype expected = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return expected > back ? bytes.first(bytes.size() - back) : bytes;
    }
    return bytes;
}

// One bad byte must not hide the log: it reads as U+FFFD and every line stays.
QString decodeLeniently(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

// The window's text, starting with a whole line and ending with a whole character.
std::optional<QString> readWindow(const QString& path) {
    const auto file = ReadOnlyFile::openRegular(path);
    if (!file) {
        return std::nullopt;
    }
    const qint64 windowStart = std::max<qint64>(0, file->size() - AgentLogReader::windowSize);
    const qint64 behind = std::min(windowStart, lookBehind);
    const auto bytes = file->readAt(windowStart - behind, file->size() - windowStart + behind);
    if (!bytes || bytes->isEmpty()) {
        return std::nullopt;
    }
    const qsizetype textStart = windowStart == 0 ? 0 : firstWholeLine(*bytes, behind);
    return decodeLeniently(withoutCutOffCharacter(QByteArrayView(*bytes).sliced(textStart)));
}

}  // namespace

AgentLogReader::AgentLogReader(QString path) : path_(std::move(path)) {}

QString AgentLogReader::defaultPath() {
    return AgentContract::logFilePath();
}

QStringList AgentLogReader::readRecentLines(int limit) const {
    const auto text = readWindow(path_);
    if (!text) {
        return {};
    }
    QStringList lines;
    for (QStringView line : LineBreaks::split(*text)) {
        if (!line.isEmpty()) {
            lines.append(line.toString());
        }
    }
    const qsizetype keep = std::max(limit, 1);
    return lines.size() > keep ? lines.sliced(lines.size() - keep) : lines;
}

std::optional<AgentLogStamp> AgentLogReader::stamp() const {
    struct stat status = {};
    if (::stat(QFile::encodeName(path_).constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return AgentLogStamp{qint64(status.st_size),
                         qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

}  // namespace quorvane
