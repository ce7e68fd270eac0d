#pragma once

#include <QLocale>
#include <QStringList>

class AttachmentList;

// The grid's seven columns as text, for printing.
namespace table {

QStringList headings();
// The texts of one row, as the grid shows them.
QStringList rowTexts(const AttachmentList &list, int position, const QLocale &locale = QLocale());

// RFC 4180: a header line, then one line a row, CRLF line ends.
QString csv(const AttachmentList &list, const QLocale &locale = QLocale());
// Columns padded to their widest text, separated by two spaces.
QString aligned(const AttachmentList &list, const QLocale &locale = QLocale());

} // namespace table
