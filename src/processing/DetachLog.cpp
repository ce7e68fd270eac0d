#include "DetachLog.h"

#include "common/Error.h"
#include "log/LogFile.h"

#include <QFile>

#include <algorithm>
#include <optional>

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

// A quoted CSV field at the start of text (inner quotes doubled): its value, when it
// closes at text's end.
std::optional<QString> wholeQuotedField(const QString &text)
{
    if (!text.startsWith(QLatin1Char('"')) || text.size() < 2 || !text.endsWith(QLatin1Char('"')))
        return std::nullopt;
    QString value;
    for (qsizetype at = 1; at < text.size() - 1; ++at) {
        if (text[at] != QLatin1Char('"')) {
            value += text[at];
        } else if (text[at + 1] == QLatin1Char('"') && at + 1 < text.size() - 1) {
            value += QLatin1Char('"');
            ++at;
        } else {
            return std::nullopt;
        }
    }
    return value;
}

// The last field of text and, in *before, what comes before the comma that opens it;
// nothing when text holds no comma or ends in a quoted field that never opens.
std::optional<QString> lastField(const QString &text, QString *before)
{
    qsizetype comma = -1;
    if (!text.endsWith(QLatin1Char('"'))) {
        comma = text.lastIndexOf(QLatin1Char(','));
    } else {
        // Back past the doubled quotes inside the field to the one that opens it.
        for (qsizetype at = text.size() - 2; at >= 0 && comma < 0; --at) {
            if (text[at] != QLatin1Char('"'))
                continue;
            if (at > 0 && text[at - 1] == QLatin1Char('"'))
                --at;
            else if (at > 0 && text[at - 1] == QLatin1Char(','))
                comma = at - 1;
            else
                return std::nullopt;
        }
    }
    if (comma < 0)
        return std::nullopt;
    *before = text.left(comma);
    return text.mid(comma + 1);
}

bool isSha256(const QString &text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                      (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
           });
}

// "type/subtype" as a log wrote it: one slash, neither at an end, no blank and no "]",
// so that the tail of a link is not taken for one.
bool isContentType(const QString &text)
{
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    return slash > 0 && slash < text.size() - 1 && text.indexOf(QLatin1Char('/'), slash + 1) < 0 &&
           !text.contains(QLatin1Char(' ')) && !text.contains(QLatin1Char(']'));
}

// The message of an entry line: what follows its third comma. Logs of an earlier version
// ended every entry in two more columns, the saved file's SHA-256 and the attachment's
// content type, and wrote a message holding a comma or a quote as one quoted field; a
// line that ends in them is read without them.
std::optional<QString> messageOf(const QString &line)
{
    qsizetype from = 0;
    for (int field = 0; field < 3; ++field) {
        const qsizetype comma = line.indexOf(QLatin1Char(','), from);
        if (comma < 0)
            return std::nullopt;
        from = comma + 1;
    }
    const QString message = line.mid(from);
    QString beforeType;
    QString beforeSha;
    const auto type = lastField(message, &beforeType);
    const auto sha = type ? lastField(beforeType, &beforeSha) : std::nullopt;
    if (!sha || !(sha->isEmpty() || isSha256(*sha)) ||
        !(type->isEmpty() || isContentType(*type) || wholeQuotedField(*type)))
        return message;
    return wholeQuotedField(beforeSha).value_or(beforeSha);
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
        const auto message = messageOf(text);
        if (!message)
            continue;
        DetachRecord record;
        QString tail;
        const bool detached = message->startsWith(detaching);
        if (splitEntry(*message, detached ? detaching : copying, QStringLiteral("to "),
                       &record.filename, &record.where, &tail)) {
            record.link = tail;
            record.detached = detached;
            records.push_back(record);
            continue;
        }
        if (splitEntry(*message, relinking, QStringLiteral("from "), &record.filename,
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
