#include "DetachLog.h"

#include "common/Error.h"
#include "log/LogDocument.h"
#include "log/LogFile.h"

#include <QFile>

namespace {

const QString detaching = QStringLiteral("Detaching document [");
const QString copying = QStringLiteral("Copying document [");
const QString relinking = QStringLiteral("Relinking document [");
const QString ofEmail = QStringLiteral("] of email [");

// "NAME] of email [WHERE] <separator>TAIL" after the opening text: false when the
// message has another shape.
bool splitEntry(const QString &message, const QString &opening, const QString &separator,
                QString *name, QString *where, QString *tail)
{
    if (!message.startsWith(opening))
        return false;
    const qsizetype middle = message.indexOf(ofEmail, opening.size());
    // A link never holds a blank, so the last separator is the one before it.
    const qsizetype end = message.lastIndexOf(QStringLiteral("] ") + separator);
    if (middle < 0 || end < middle + ofEmail.size())
        return false;
    *name = message.mid(opening.size(), middle - opening.size());
    *where = message.mid(middle + ofEmail.size(), end - middle - ofEmail.size());
    *tail = message.mid(end + 2 + separator.size());
    return !tail->isEmpty();
}

} // namespace

std::vector<DetachRecord> readDetachLog(const QString &path)
{
    checkLogFile(path); // a FIFO or a device would hold the read up for ever
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw qb::Error(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    const QByteArray first = file.readLine();
    if (!first.startsWith("Quillbrook Log File"))
        throw qb::Error(QStringLiteral("%1 is not an action log of this program").arg(path));
    std::vector<DetachRecord> records;
    while (!file.atEnd()) {
        QString text = QString::fromUtf8(file.readLine());
        while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        const auto line = splitLogLine(text);
        if (!line)
            continue;
        DetachRecord record;
        QString tail;
        const bool detached = line->message.startsWith(detaching);
        if (splitEntry(line->message, detached ? detaching : copying, QStringLiteral("to "),
                       &record.filename, &record.where, &tail)) {
            record.link = tail;
            record.detached = detached;
            records.push_back(record);
            continue;
        }
        if (splitEntry(line->message, relinking, QStringLiteral("from "), &record.filename,
                       &record.where, &tail)) {
            const qsizetype to = tail.indexOf(QStringLiteral(" to "));
            if (to < 0)
                continue;
            const QString oldLink = tail.left(to);
            const QString newLink = tail.mid(to + 4);
            for (DetachRecord &earlier : records) {
                if (earlier.link == oldLink && earlier.where == record.where &&
                    earlier.filename == record.filename)
                    earlier.link = newLink;
            }
        }
    }
    return records;
}

QString relinkEntry(const DetachRecord &record, const QString &oldLink, const QString &newLink)
{
    return QStringLiteral("Relinking document [%1] of email [%2] from %3 to %4")
        .arg(record.filename, record.where, oldLink, newLink);
}

QString pathOfLink(const QString &link)
{
    static const QString scheme = QStringLiteral("file://");
    if (!link.startsWith(scheme))
        return {};
    return QString::fromUtf8(QByteArray::fromPercentEncoding(link.mid(scheme.size()).toUtf8()));
}
