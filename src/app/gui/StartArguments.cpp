#include "StartArguments.h"

#include <QFileInfo>

namespace {

const QString storeOption = QStringLiteral("--store");

} // namespace

QStringList storeArguments(const QStringList &arguments)
{
    QStringList stores;
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == storeOption)
            stores << arguments[++i];
    }
    return stores;
}

QString settingsFileArgument(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == storeOption)
            ++i;
        else if (!arguments[i].isEmpty() && !arguments[i].startsWith(u'-'))
            return QFileInfo(arguments[i]).absoluteFilePath();
    }
    return {};
}
