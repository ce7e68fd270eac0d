#pragma once

#include <QStringList>

// What is wrong with name as a new name of a mail store, given the names the other
// stores have (compared without regard to case), or empty when nothing is.
QString storeNameProblem(const QString &name, const QStringList &takenNames);
