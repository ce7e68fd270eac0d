#pragma once

#include <QStringList>

// quillbrook-cli relink OLD NEW: after a folder of saved files moved from OLD to NEW,
// rewrites the notes' links that an action log records (RelinkJob.h). Returns the
// process's exit status as the job commands do: 0 done (nothing left to relink counts
// as done), 3 done with notes refused, 2 cancelled or the run failed, 1 bad input.
int runRelinkCommand(const QStringList &arguments);
