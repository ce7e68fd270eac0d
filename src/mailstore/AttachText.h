#pragma once

#include <QHash>
#include <QLocale>
#include <QString>

#include "AttachmentList.h"

struct TAttach;

// The Size column (and, for the attachment's own size, the Attachment size column):
// "Unknown" for 0, whole KB up to 1,000,000 bytes, whole MB
// above, grouped with the locale's thousands separator and never "0KB"/"0MB".
QString SizeText(const TAttach &record, const QLocale &locale = QLocale());
QString sizeText(qint64 bytes, const QLocale &locale = QLocale());

// A text made safe to use as a file name: dots become commas, the nine characters
// that file systems or shells reserve become spaces, and the ends are trimmed.
QString SafeFileName(const QString &text);

// The Date column: the short date, a space and the long time; midnight shows the date alone.
QString dateText(double automationDate, const QLocale &locale = QLocale());

// The same texts for many rows: the locale's time format is worked out once and each
// day's date text is made once, which matters for tables of a whole store.
class DateTexts
{
public:
    explicit DateTexts(const QLocale &locale);
    QString of(double automationDate);

private:
    QLocale m_locale;
    QString m_timeFormat;
    QHash<qint64, QString> m_days; // by Julian day
};

// The grid's heading of a column, and the text a record shows in it.
QString columnHeading(AttachColumn column);
QString cellText(const TAttach &record, AttachColumn column, const QLocale &locale = QLocale());
