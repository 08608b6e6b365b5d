#pragma once

#include <QByteArray>
#include <QString>

// The agent's files are private to the user: folders 0700, files 0600. Failures are
// std::system_error.
namespace quorvane::PrivateFiles {

// Creates the missing folders of `path` with mode 0700 and sets `path` itself to 0700.
void ensureDirectory(const QString& path);

// Replaces the file at `path` in one step: a temporary file in the same folder (0600), flushed,
// renamed onto `path`, the folder flushed. A reader sees the old or the new content, never a part.
void replaceAtomically(const QString& path, const QByteArray& bytes);

// `bytes` written completely to `descriptor`.
void writeAll(int descriptor, const QByteArray& bytes);

}  // namespace quorvane::PrivateFiles
