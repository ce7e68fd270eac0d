#pragma once

#include <QString>
#include <QStringList>

// The user's own list of the undo records that jobs made, so that the last job can be put
// back without asking where its files went: one record path per line, in
// $XDG_STATE_HOME/quillbrook/ (~/.local/state/quillbrook/ by default).
namespace undo {

QString indexPath();
// Adds a record; throws qb::Error when the list cannot be written.
void addToIndex(const QString &recordPath);
// The records listed that are still there, oldest first, each once.
QStringList indexedRecords();

} // namespace undo
