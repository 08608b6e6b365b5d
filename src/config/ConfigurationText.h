#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// Text rules shared by the configuration reader and the input validators.
namespace quorvane::ConfigurationText {

// Trims tab and the Unicode space separators (category Zs) from both ends.
QStringView trimmedSpaces(QStringView text);
// Trims the same set and the line breaks of LineBreaks from both ends.
QStringView trimmedSpacesAndLineBreaks(QStringView text);

// "workspace." once removed, then a hyphenated UUID of either case; lower case, or nothing.
std::optional<QString> normalizedWorkspaceID(QStringView text);

bool isAbsolutePath(QStringView path);
// Empty, relative, or carrying a line break or NUL: never a usable folder path.
bool isUnusablePath(QStringView path);
// An absolute path with "." and empty components dropped and ".." resolved lexically;
// "/" stays "/", anything else carries no trailing slash.
QString standardizedPath(QStringView absolutePath);
// A usable standardised path that the file gives back unchanged: values are trimmed when read,
// so one ending in white space would come back naming another folder.
bool survivesConfigurationFile(QStringView standardizedPath);

}  // namespace quorvane::ConfigurationText
