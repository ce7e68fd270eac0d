#pragma once

#include <QStringList>

// quillbrook-cli undo: puts the emails of recorded detach and save jobs back exactly as
// they were (UndoJob.h), or lists the recorded jobs. Returns the process's exit status as
// the job commands do: 0 done, 3 done with emails refused, 2 cancelled, 1 bad input.
int runUndoCommand(const QStringList &arguments);
