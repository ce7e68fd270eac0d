#pragma once

#include <QStringList>

// quillbrook-cli delete|detach|save: analyses like analyze, then runs the job on
// the selected rows. Returns the process's exit status: 0 done, 3 done with
// failed attachments, 2 cancelled or the run failed, 1 bad input.
int runJobCommand(const QString &action, const QStringList &arguments);
