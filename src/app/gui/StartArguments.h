#pragma once

#include <QStringList>

// The desktop program's command line: quillbrook [--store DIR]... [FILE.qbk]

// The Maildirs given with --store, in order.
QStringList storeArguments(const QStringList &arguments);

// The settings file to open at start, as an absolute path (a copy that already runs has
// another working folder); empty when none is given. The first argument that is neither
// an option nor an option's value.
QString settingsFileArgument(const QStringList &arguments);
