#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

#include "system/FileIdentity.h"

// Files only the user may read, replaced in one step. Failures are std::system_error, except
// the private folder's own checks below.
namespace quorvane::PrivateFiles {

// The path without its last component: "/" for a file in the root directory, "." for a
// bare file name.
QString directoryOf(const QString& filePath);

// Creates the missing folders of the path with mode 0700; folders that exist keep their mode.
// Throws ENOTDIR when something other than a folder (or a link to one) stands at the path.
void createMissingDirectories(const QString& directory);

// The program's own private folder: its parents are created like createMissingDirectories, the
// folder itself with mode 0700, and then set to 0700; failing to set it is EACCES. It must be a
// real folder of this user: a symbolic link (another user may have planted it in a shared
// runtime folder), a folder of another user or anything else at its path is a QuorvaneError
// with the user's message, and nothing is created through it.
void createPrivateDirectory(const QString& directory);

// Replaces filePath with bytes: a temporary file "<temporaryPrefix><UUID>.tmp" of mode 0600
// in the same directory is written under an exclusive lock, flushed to disk and renamed onto
// filePath, then the directory is flushed. The temporary file never outlives the call, whatever
// happens; those left by a killed process are removed by a later call once they are unlocked
// and a minute old.
void replaceAtomically(const QString& filePath, QByteArrayView bytes, QStringView temporaryPrefix);

// Like replaceAtomically, but only while filePath is still the version `expected` (nothing:
// no file there), so that a change made since it was read is not overwritten. Returns false,
// leaving filePath as it found it, when the file changed.
bool replaceIfUnchanged(const QString& filePath, QByteArrayView bytes, QStringView temporaryPrefix,
                        const std::optional<FileIdentity>& expected);

}  // namespace quorvane::PrivateFiles
