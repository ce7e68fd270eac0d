#pragma once

#include <QIODevice>
#include <QString>

// The tagged byte stream of settings files: little-endian numbers, the smallest
// integer form, short texts up to 255 bytes. Texts are stored as UTF-8 bytes; a
// text that is not UTF-8 is read as Windows-1252.
class SettingsWriter
{
public:
    explicit SettingsWriter(QIODevice &device) : m_device(device) {}

    void writeSignature();
    void writeShortString(const QByteArray &text);
    void writeEndOfList();
    void writeInteger(qint32 value);
    void writeString(const QString &text);
    void writeBool(bool value);
    // False when anything could not be written.
    bool ok() const { return m_ok; }

private:
    void put(const QByteArray &bytes);

    QIODevice &m_device;
    bool m_ok = true;
};

// Reads what SettingsWriter writes. Failures throw qb::Error with the stream's
// messages: "Invalid stream format", "Stream read error", and inside a property
// "Error reading TSettings.<property>: Invalid property value" or "...: Stream read error".
class SettingsReader
{
public:
    explicit SettingsReader(QIODevice &device) : m_device(device) {}

    void readSignature();
    QByteArray readShortString();
    // True at the end of a list (one 00 byte, consumed).
    bool atEndOfList();
    void readEndOfList();

    // The property whose value is being read; names it in errors.
    void beginProperty(const QByteArray &name) { m_property = name; }
    void endProperty() { m_property.clear(); }

    qint32 readInteger();
    QString readString();
    bool readBool();

private:
    QByteArray take(qint64 count);
    quint8 takeByte();
    [[noreturn]] void fail(const QString &reason) const;

    QIODevice &m_device;
    QByteArray m_property;
};
