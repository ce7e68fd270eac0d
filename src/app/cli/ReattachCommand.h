#pragma once

#include <QStringList>

// quillbrook-cli reattach: undoes the detaches an action log records (ReattachJob.h).
// Returns the process's exit status as the job commands do: 0 done (nothing left to
// put back counts as done), 3 done with attachments refused, 2 cancelled or the run
// failed, 1 bad input.
int runReattachCommand(const QStringList &arguments);
