#pragma once

#include <QStringList>

// quillbrook-cli analyze: lists every attachment of a folder and its subfolders.
// Returns the process's exit status.
int runAnalyzeCommand(const QStringList &arguments);
