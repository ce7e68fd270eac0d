#pragma once

#include <QString>

#include <optional>

// The command text that makes the running copy open a settings file:
// [FileOpen("<path>")]
namespace remote {

// A command's lines joined again as the running copy reads them: each line followed by
// CR LF. A line ends at CR LF, LF or a lone CR; a line end at the very end starts no
// further line, and an empty command has no lines.
QString joinedLines(const QString &command);

// The path that a joined command names; nothing when its first 11 characters are not
// exactly [FileOpen(" (letter case as shown). Of the characters after the opening quote
// at most 255 are read, and they are cut before the first double quote among them;
// without one, all of them stay (a ")]" and line ends among them too).
std::optional<QString> fileOpenPath(const QString &joined);

// The command that opens path.
QString fileOpenCommand(const QString &path);

// Why path cannot travel in a command as it is (the running copy would open another
// file, or none); empty when it can.
QString unsendableReason(const QString &path);

} // namespace remote
