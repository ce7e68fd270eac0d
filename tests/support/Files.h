#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>
#include <stdexcept>

// Small file helpers the suites share.

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A writer of content to a new file, for the saved-file placer; throws when it cannot.
inline std::function<void(const QString &)> writing(const QByteArray &content)
{
    return [content](const QString &path) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            file.write(content) != content.size())
            throw std::runtime_error("cannot write");
    };
}
