#include "SettingsStream.h"

#include "common/Error.h"

#include <QtEndian>

namespace {

enum Tag : quint8 {
    Int8 = 0x02,
    Int16 = 0x03,
    Int32 = 0x04,
    String = 0x06,
    False = 0x08,
    True = 0x09,
    LongString = 0x0C,
};

const QString streamReadError = QStringLiteral("Stream read error");

// Windows-1252 bytes 0x80 to 0x9F; the five the code page leaves out keep their C1
// control characters, so every byte reads as some character and none is lost.
constexpr char16_t windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Texts are written as UTF-8; a file written elsewhere in a single-byte code page
// holds bytes that are not UTF-8, and those files come from Windows-1252.
QString textOf(const QByteArray &bytes)
{
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = uchar(bytes[i]);
        text[i] =
            QChar(byte >= 0x80 && byte < 0xA0 ? windows1252High[byte - 0x80] : char16_t(byte));
    }
    return text;
}

template <class T> QByteArray littleEndian(T value)
{
    QByteArray bytes(sizeof(T), Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

} // namespace

void SettingsWriter::put(const QByteArray &bytes)
{
    if (m_device.write(bytes) != bytes.size())
        m_ok = false;
}

void SettingsWriter::writeSignature()
{
    put("TPF0");
}

void SettingsWriter::writeShortString(const QByteArray &text)
{
    put(char(quint8(text.size())) + text.left(255));
}

void SettingsWriter::writeEndOfList()
{
    put(QByteArray(1, '\0'));
}

void SettingsWriter::writeInteger(qint32 value)
{
    if (value >= -128 && value <= 127)
        put(char(Int8) + littleEndian(qint8(value)));
    else if (value >= -32768 && value <= 32767)
        put(char(Int16) + littleEndian(qint16(value)));
    else
        put(char(Int32) + littleEndian(value));
}

void SettingsWriter::writeString(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.size() <= 255)
        put(char(String) + QByteArray(1, char(quint8(bytes.size()))) + bytes);
    else
        put(char(LongString) + littleEndian(qint32(bytes.size())) + bytes);
}

void SettingsWriter::writeBool(bool value)
{
    put(QByteArray(1, char(value ? True : False)));
}

void SettingsReader::fail(const QString &reason) const
{
    if (m_property.isEmpty())
        throw qb::Error(reason);
    throw qb::Error(QStringLiteral("Error reading %1%2%3: %4")
                        .arg(QStringLiteral("TSettings"), QStringLiteral("."),
                             QString::fromUtf8(m_property), reason));
}

QByteArray SettingsReader::take(qint64 count)
{
    const QByteArray bytes = m_device.read(count);
    if (bytes.size() != count)
        fail(streamReadError);
    return bytes;
}

quint8 SettingsReader::takeByte()
{
    return quint8(take(1).at(0));
}

void SettingsReader::readSignature()
{
    const QByteArray signature = m_device.read(4);
    if (signature.size() != 4)
        fail(streamReadError);
    if (signature != "TPF0")
        fail(QStringLiteral("Invalid stream format"));
}

QByteArray SettingsReader::readShortString()
{
    return take(takeByte());
}

bool SettingsReader::atEndOfList()
{
    char next = 0;
    if (!m_device.peek(&next, 1))
        fail(streamReadError);
    if (next != 0)
        return false;
    m_device.read(1);
    return true;
}

void SettingsReader::readEndOfList()
{
    if (takeByte() != 0)
        fail(QStringLiteral("Invalid property value"));
}

qint32 SettingsReader::readInteger()
{
    switch (takeByte()) {
    case Int8:
        return qint8(take(1).at(0));
    case Int16:
        return qFromLittleEndian<qint16>(take(2).constData());
    case Int32:
        return qFromLittleEndian<qint32>(take(4).constData());
    default:
        fail(QStringLiteral("Invalid property value"));
    }
}

QString SettingsReader::readString()
{
    switch (takeByte()) {
    case String:
        return textOf(take(takeByte()));
    case LongString: {
        const qint32 length = qFromLittleEndian<qint32>(take(4).constData());
        if (length < 0)
            fail(QStringLiteral("Invalid property value"));
        // A length past the end of the file is a truncated file, not a reason to allocate it.
        if (!m_device.isSequential() && length > m_device.size() - m_device.pos())
            fail(streamReadError);
        return textOf(take(length));
    }
    default:
        fail(QStringLiteral("Invalid property value"));
    }
}

bool SettingsReader::readBool()
{
    return takeByte() == True;
}
