#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Files only the user may read, replaced in one step. Failures are std::system_error.
namespace quorvane::PrivateFiles {

// The path without its last component: "/" for a file in the root directory, "." for a
// bare file name.
QString directoryOf(const QString& filePath);

// Creates the directory and its missing parents with mode 0700 and then sets the directory's
// own mode to 0700; failing to set it is EACCES.
void createPrivateDirectory(const QString& directory);

// Replaces filePath with bytes: a temporary file "<temporaryPrefix><UUID>.tmp" of mode 0600
// in the same directory is written, flushed to disk and renamed onto filePath, then the
// directory is flushed. The temporary file never outlives the call, whatever happens.
void replaceAtomically(const QString& filePath, QByteArrayView bytes, QStringView temporaryPrefix);

}  // namespace quorvane::PrivateFiles
