#pragma once

#include <QString>

// Where an action log may go. Its lines hold subjects and file names that any sender
// chooses, so a log is appended only to a regular file that already is an action log
// (it starts with the log's first line) or made as a new file. Anything else is
// refused: a file of another kind that a settings file names (a shell's start-up file
// would run what a subject holds), a FIFO or a device (an open or a write could wait
// for ever), a symbolic link, or a new file with a hidden name (the start-up files
// that shells and desktops read are hidden). Nothing is opened in a way that blocks.

// The first line of every action log.
QString logHeaderLine();

// Throws qb::Error, naming the file and why, when a job may not log to logName (a
// name as the log manager takes it); an empty name, a log, a file that does not exist
// yet, or one that cannot be looked at (left to the opening to report) pass.
void checkLogFile(const QString &logName);

// Opens the log file at key (a normalised name) for appending, making it when it does
// not exist; without append an existing log is emptied. Returns the open descriptor
// and sets *needsHeader when the file is empty. Throws qb::Error with the reason
// when the file cannot be opened or is refused as checkLogFile refuses it.
int openLogFile(const QString &key, bool append, bool *needsHeader);
