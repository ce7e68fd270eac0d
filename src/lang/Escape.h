#pragma once

#include <QByteArray>
#include <QString>

// The value encoding of the language file, so that one line can carry any byte:
// control characters become "\n", "\t", ... or three octal digits, and "\" is doubled.
// Both work on bytes; the text versions work on the UTF-8 bytes.
QByteArray escapeBytes(QByteArrayView bytes);
// Throws qb::Error with the exact message of a malformed escape.
QByteArray unescapeBytes(QByteArrayView escaped);

QString Escape(const QString &text);
QString Unescape(const QString &text);
