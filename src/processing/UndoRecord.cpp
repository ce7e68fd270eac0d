#include "UndoRecord.h"

#include "common/Error.h"
#include "common/FileSystem.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QtEndian>

#include <zlib.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace undo {

namespace {

const QString recordSuffix = QStringLiteral(".jsonl");
const QString recordKind = QStringLiteral("quillbrook-undo");
constexpr int recordVersion = 1;
// A record holds the bytes that no saved file rebuilds; far more than any real one.
constexpr qint64 maxRecordSize = qint64(1) << 30;
constexpr qint64 maxEmailSize = (qint64(1) << 31) - 1;

[[noreturn]] void damaged(const QString &path, int line, const QString &what)
{
    throw qb::Error(QStringLiteral("The undo record %1 is damaged at line %2: %3")
                        .arg(path)
                        .arg(line)
                        .arg(what));
}

// Unpacks what qCompress packed (a four-byte size, then a zlib stream), never making more
// than max bytes: a crafted stream could otherwise unpack to gigabytes.
std::optional<QByteArray> unpacked(const QByteArray &packed, qint64 max)
{
    if (packed.size() < 4)
        return std::nullopt;
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData() + 4));
    stream.avail_in = uInt(packed.size() - 4);
    QByteArray bytes;
    char buffer[64 * 1024];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        const qsizetype made = qsizetype(sizeof buffer - stream.avail_out);
        if (bytes.size() + made > max) {
            result = Z_DATA_ERROR;
            break;
        }
        bytes.append(buffer, made);
        if (result == Z_BUF_ERROR && stream.avail_in > 0)
            result = Z_OK;
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END)
        return std::nullopt;
    return bytes;
}

QJsonObject digestObject(const QByteArray &sha256, qint64 size)
{
    return {{QStringLiteral("sha256"), QString::fromLatin1(sha256)},
            {QStringLiteral("size"), size}};
}

QJsonObject pieceObject(const RemovedPiece &piece)
{
    if (piece.file < 0)
        return {{QStringLiteral("bytes"), QString::fromLatin1(qCompress(piece.bytes).toBase64())}};
    const bool base64 = piece.shape.encoding == BodyShape::Encoding::Base64;
    return {
        {QStringLiteral("file"), piece.file},
        {QStringLiteral("encoding"), base64 ? QStringLiteral("base64") : QStringLiteral("as-is")},
        {QStringLiteral("lineLength"), piece.shape.lineLength},
        {QStringLiteral("lineBreak"), QString::fromLatin1(piece.shape.lineBreak)},
        {QStringLiteral("tail"), QString::fromLatin1(piece.shape.tail)}};
}

QJsonObject emailObject(const EmailRecord &email)
{
    QJsonArray files;
    for (const SavedFileRef &file : email.files) {
        QJsonObject object = digestObject(file.sha256, file.size);
        object.insert(QStringLiteral("path"), file.path);
        object.insert(QStringLiteral("created"), file.created);
        files.append(object);
    }
    QJsonArray spans;
    for (const ReversedSpan &span : email.spans) {
        QJsonArray removed;
        for (const RemovedPiece &piece : span.removed)
            removed.append(pieceObject(piece));
        spans.append(QJsonObject{{QStringLiteral("at"), span.at},
                                 {QStringLiteral("length"), span.length},
                                 {QStringLiteral("removed"), removed}});
    }
    return {{QStringLiteral("email"), email.number},
            {QStringLiteral("store"), email.storeId},
            {QStringLiteral("folder"), email.folderId},
            {QStringLiteral("id"), email.entryId},
            {QStringLiteral("label"), email.label},
            {QStringLiteral("messageId"), email.messageId},
            {QStringLiteral("attachments"), email.attachments},
            {QStringLiteral("before"), digestObject(email.beforeSha256, email.beforeSize)},
            {QStringLiteral("after"), digestObject(email.afterSha256, email.afterSize)},
            {QStringLiteral("files"), files},
            {QStringLiteral("spans"), spans}};
}

// Reads one line's values, refusing anything a record never holds.
class LineReader
{
public:
    LineReader(const QString &path, int line) : m_path(path), m_line(line) {}

    [[noreturn]] void fail(const QString &what) const { damaged(m_path, m_line, what); }

    QString text(const QJsonObject &object, const QString &key) const
    {
        const QJsonValue value = object.value(key);
        if (!value.isString())
            fail(QStringLiteral("\"%1\" is not a text").arg(key));
        return value.toString();
    }
    qint64 number(const QJsonObject &object, const QString &key, qint64 max) const
    {
        const QJsonValue value = object.value(key);
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number < 0 || number > double(max) || number != qint64(number))
            fail(QStringLiteral("\"%1\" is not a number from 0 to %2").arg(key).arg(max));
        return qint64(number);
    }
    QJsonObject object(const QJsonObject &object, const QString &key) const
    {
        const QJsonValue value = object.value(key);
        if (!value.isObject())
            fail(QStringLiteral("\"%1\" is not an object").arg(key));
        return value.toObject();
    }
    QJsonArray array(const QJsonObject &object, const QString &key) const
    {
        const QJsonValue value = object.value(key);
        if (!value.isArray())
            fail(QStringLiteral("\"%1\" is not a list").arg(key));
        return value.toArray();
    }
    QByteArray sha256(const QJsonObject &object) const
    {
        const QString text = this->text(object, QStringLiteral("sha256"));
        const bool hex = text.size() == 64 && std::all_of(text.begin(), text.end(), [](QChar c) {
                             return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
                         });
        if (!hex)
            fail(QStringLiteral("a SHA-256 is not 64 hexadecimal digits"));
        return text.toLatin1();
    }
    // A path below the record's folder: relative, without "." or ".." or empty levels.
    QString relativePath(const QJsonObject &object) const
    {
        const QString path = text(object, QStringLiteral("path"));
        for (const QString &level : path.split(QLatin1Char('/'))) {
            if (level.isEmpty() || level == u"." || level == u".." || level.contains(QChar(0)))
                fail(
                    QStringLiteral("the path %1 does not lie below the record's folder").arg(path));
        }
        return path;
    }

    // keptBudget: how many bytes the email's kept pieces may still unpack to, all together
    // never more than the email itself.
    RemovedPiece piece(const QJsonObject &object, const EmailRecord &email,
                       qint64 &keptBudget) const
    {
        RemovedPiece piece;
        if (object.contains(QStringLiteral("bytes"))) {
            const QByteArray packed =
                QByteArray::fromBase64(text(object, QStringLiteral("bytes")).toLatin1());
            const auto bytes = unpacked(packed, keptBudget);
            if (!bytes)
                fail(QStringLiteral("kept bytes that do not unpack to fewer than the email's"));
            keptBudget -= bytes->size();
            piece.bytes = *bytes;
            return piece;
        }
        piece.file = int(number(object, QStringLiteral("file"), qint64(email.files.size()) - 1));
        const QString encoding = text(object, QStringLiteral("encoding"));
        if (encoding == u"base64")
            piece.shape.encoding = BodyShape::Encoding::Base64;
        else if (encoding != u"as-is")
            fail(QStringLiteral("an unknown encoding %1").arg(encoding));
        piece.shape.lineLength = int(number(object, QStringLiteral("lineLength"), 1 << 20));
        piece.shape.lineBreak = text(object, QStringLiteral("lineBreak")).toLatin1();
        piece.shape.tail = text(object, QStringLiteral("tail")).toLatin1();
        const bool breakOk = piece.shape.lineBreak == "\r\n" || piece.shape.lineBreak == "\n" ||
                             piece.shape.lineBreak.isEmpty();
        const bool tailOk =
            piece.shape.tail.size() <= 4096 &&
            std::all_of(piece.shape.tail.begin(), piece.shape.tail.end(),
                        [](char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; });
        if (!breakOk || !tailOk)
            fail(QStringLiteral("a body shape no encoder writes"));
        return piece;
    }

    EmailRecord email(const QJsonObject &line) const
    {
        EmailRecord email;
        email.number = int(number(line, QStringLiteral("email"), 1 << 30));
        email.storeId = text(line, QStringLiteral("store"));
        email.folderId = text(line, QStringLiteral("folder"));
        email.entryId = text(line, QStringLiteral("id"));
        email.label = text(line, QStringLiteral("label"));
        email.messageId = text(line, QStringLiteral("messageId"));
        email.attachments = int(number(line, QStringLiteral("attachments"), 1 << 30));
        const QJsonObject before = object(line, QStringLiteral("before"));
        const QJsonObject after = object(line, QStringLiteral("after"));
        email.beforeSha256 = sha256(before);
        email.beforeSize = number(before, QStringLiteral("size"), maxEmailSize);
        email.afterSha256 = sha256(after);
        email.afterSize = number(after, QStringLiteral("size"), maxEmailSize);
        for (const QJsonValue &value : array(line, QStringLiteral("files"))) {
            const QJsonObject file = value.toObject();
            email.files.push_back({relativePath(file), sha256(file),
                                   number(file, QStringLiteral("size"), maxEmailSize),
                                   file.value(QStringLiteral("created")).toBool()});
        }
        qsizetype done = 0;
        qint64 keptBudget = email.beforeSize;
        for (const QJsonValue &value : array(line, QStringLiteral("spans"))) {
            const QJsonObject object = value.toObject();
            ReversedSpan span;
            span.at = number(object, QStringLiteral("at"), email.afterSize);
            span.length = number(object, QStringLiteral("length"), email.afterSize - span.at);
            if (span.at < done)
                fail(QStringLiteral("changes out of order"));
            done = span.at + span.length;
            for (const QJsonValue &piece : array(object, QStringLiteral("removed")))
                span.removed.push_back(this->piece(piece.toObject(), email, keptBudget));
            email.spans.push_back(std::move(span));
        }
        return email;
    }

private:
    const QString &m_path;
    int m_line;
};

QByteArray readRecordBytes(const QString &path)
{
    const qb::FileDescriptor fd(::open(QFile::encodeName(path).constData(),
                                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isOpen())
        throw qb::Error(
            QStringLiteral("Cannot open the undo record %1: %2").arg(path, qb::systemErrorText()));
    struct stat info = {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        throw qb::Error(QStringLiteral("The undo record %1 is not a file").arg(path));
    if (info.st_size > maxRecordSize)
        throw qb::Error(QStringLiteral("The undo record %1 is too large").arg(path));
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + done, size_t(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw qb::Error(QStringLiteral("Cannot read the undo record %1: %2")
                                .arg(path, qb::systemErrorText()));
        if (got == 0)
            break;
        done += got;
    }
    bytes.truncate(done);
    return bytes;
}

} // namespace

QString recordFolderOf(const QString &root)
{
    return QDir(root).filePath(QStringLiteral(".quillbrook/undo"));
}

QString recordPathOf(const QString &root, const QString &jobId)
{
    return recordFolderOf(root) + QLatin1Char('/') + jobId + recordSuffix;
}

QStringList recordsUnder(const QString &root)
{
    const QDir folder(recordFolderOf(root));
    QStringList paths;
    for (const QString &name : folder.entryList({QLatin1Char('*') + recordSuffix},
                                                QDir::Files | QDir::System, QDir::Name))
        paths << folder.filePath(name);
    return paths;
}

JobRecord readJobRecord(const QString &path)
{
    const QByteArray bytes = readRecordBytes(path);
    JobRecord job;
    job.path = QFileInfo(path).absoluteFilePath();
    // <root>/.quillbrook/undo/<id>.jsonl
    // Two levels up as written: a link planted for .quillbrook or undo must not move the
    // folder that saved files are looked for in.
    job.root = QDir::cleanPath(QFileInfo(job.path).absolutePath() + QStringLiteral("/../.."));
    std::map<int, size_t> emailAt;
    int lineNumber = 0;
    for (qsizetype start = 0; start < bytes.size();) {
        const qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            break; // cut short by a crash before its email was touched
        ++lineNumber;
        const LineReader reader(path, lineNumber);
        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson(bytes.mid(start, end - start), &error);
        start = end + 1;
        if (!document.isObject())
            reader.fail(error.errorString());
        const QJsonObject line = document.object();
        if (lineNumber == 1) {
            if (line.value(QStringLiteral("record")).toString() != recordKind ||
                line.value(QStringLiteral("version")).toInt() != recordVersion)
                reader.fail(QStringLiteral("it is no undo record of this program"));
            job.id = reader.text(line, QStringLiteral("job"));
            job.action = reader.text(line, QStringLiteral("action"));
            job.started =
                QDateTime::fromString(reader.text(line, QStringLiteral("started")), Qt::ISODate);
            if (job.action != u"detach" && job.action != u"save")
                reader.fail(QStringLiteral("an unknown action %1").arg(job.action));
        } else if (line.contains(QStringLiteral("email"))) {
            EmailRecord email = reader.email(line);
            if (emailAt.count(email.number))
                reader.fail(QStringLiteral("email %1 twice").arg(email.number));
            emailAt[email.number] = job.emails.size();
            job.emails.push_back(std::move(email));
        } else {
            const bool stored = line.contains(QStringLiteral("stored"));
            const QString key = stored ? QStringLiteral("stored") : QStringLiteral("undone");
            const auto found = emailAt.find(int(reader.number(line, key, 1 << 30)));
            if (found == emailAt.end())
                reader.fail(QStringLiteral("no email of that number"));
            EmailRecord &email = job.emails[found->second];
            (stored ? email.storedEntryId : email.undoneEntryId) =
                reader.text(line, QStringLiteral("id"));
        }
    }
    if (lineNumber == 0)
        throw qb::Error(QStringLiteral("The undo record %1 is empty").arg(path));
    return job;
}

RecordWriter::RecordWriter(qb::FileDescriptor fd, QString path)
    : m_fd(std::move(fd)), m_path(std::move(path))
{
}

RecordWriter RecordWriter::create(const QString &root, const QString &jobId, const QString &action,
                                  const QDateTime &started)
{
    const QString folder = recordFolderOf(root);
    if (!qb::makePathDurably(folder))
        throw qb::Error(QStringLiteral("Cannot make the folder %1 for the undo record: %2")
                            .arg(folder, qb::systemErrorText()));
    const QString path = recordPathOf(root, jobId);
    qb::FileDescriptor fd(::open(QFile::encodeName(path).constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
                                 0600));
    if (!fd.isOpen())
        throw qb::Error(
            QStringLiteral("Cannot make the undo record %1: %2").arg(path, qb::systemErrorText()));
    RecordWriter writer(std::move(fd), path);
    try {
        writer.addLine({{QStringLiteral("record"), recordKind},
                        {QStringLiteral("version"), recordVersion},
                        {QStringLiteral("job"), jobId},
                        {QStringLiteral("action"), action},
                        {QStringLiteral("started"), started.toUTC().toString(Qt::ISODate)}});
    } catch (const qb::Error &) {
        // An empty record would be refused when read, and would stop the next try.
        QFile::remove(path);
        throw;
    }
    qb::syncDirectory(folder);
    return writer;
}

RecordWriter RecordWriter::append(const QString &path)
{
    const qsizetype whole = readRecordBytes(path).lastIndexOf('\n') + 1;
    qb::FileDescriptor fd(::open(QFile::encodeName(path).constData(),
                                 O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info = {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (info.st_size != whole && ::ftruncate(fd.get(), whole) != 0))
        throw qb::Error(
            QStringLiteral("Cannot add to the undo record %1: %2")
                .arg(path, fd.isOpen() ? QStringLiteral("not a file") : qb::systemErrorText()));
    RecordWriter writer(std::move(fd), path);
    writer.m_size = whole;
    return writer;
}

void RecordWriter::addEmail(const EmailRecord &email)
{
    addLine(emailObject(email));
}

void RecordWriter::addStored(int number, const QString &entryId)
{
    addLine({{QStringLiteral("stored"), number}, {QStringLiteral("id"), entryId}});
}

void RecordWriter::addUndone(int number, const QString &entryId)
{
    addLine({{QStringLiteral("undone"), number}, {QStringLiteral("id"), entryId}});
}

void RecordWriter::addLine(const QJsonObject &line)
{
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    // Decided before the line is written: a record its reader would refuse undoes nothing.
    if (m_size + bytes.size() > maxRecordSize)
        throw qb::Error(QStringLiteral("The undo record %1 would grow past %2 bytes")
                            .arg(m_path)
                            .arg(maxRecordSize));
    if (!qb::writeAll(m_fd.get(), bytes) || ::fdatasync(m_fd.get()) != 0) {
        const QString reason = qb::systemErrorText();
        // The lines after it must not follow a piece of this one.
        if (::ftruncate(m_fd.get(), m_size) == 0)
            ::fdatasync(m_fd.get());
        throw qb::Error(QStringLiteral("Cannot write the undo record %1: %2").arg(m_path, reason));
    }
    m_size += bytes.size();
}

QString newJobId(const QDateTime &started)
{
    return started.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss-")) +
           QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, u'0');
}

} // namespace undo
