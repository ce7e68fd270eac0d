#include "common/Error.h"
#include "mailstore/StoreConfig.h"
#include "settings/Hive.h"
#include "settings/SettingsStream.h"
#include "settings/TRegistry.h"
#include "settings/TSettings.h"
#include "support/ErrorOf.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

namespace {

QByteArray shortText(const QByteArray &text)
{
    return char(6) + QByteArray(1, char(text.size())) + text;
}

// The bytes of the example: a file saved with the registry defaults.
QByteArray defaultsFile()
{
    return QByteArray("TPF0") + char(9) + "TSettings" + char(0) + char(9) + "TSettings" +
           QByteArray::fromHex("0207") + shortText("") + shortText("") +
           QByteArray::fromHex("0200") + shortText("%5.5d.txt") + char(9) + shortText("") +
           shortText("") + char(8) + char(9) + shortText("") + shortText("") + char(8) +
           shortText("quillbrook.log") + char(0) + char(0);
}

// A file of an older version: its record stops where that version's did.
QByteArray fileOfVersion(int version)
{
    QByteArray record = char(2) + QByteArray(1, char(version)) + shortText("filter") +
                        shortText("/save") + QByteArray::fromHex("0205") + shortText("%d.txt") +
                        char(8);
    if (version >= 2)
        record += shortText("dest");
    if (version >= 3)
        record += shortText("entry");
    if (version >= 6)
        record +=
            char(8) + QByteArray(1, char(8)) + shortText("Email Folders\\X") + shortText("id-x");
    if (version >= 7)
        record += char(9) + shortText("job.log");
    return QByteArray("TPF0") + char(9) + "TSettings" + char(0) + char(9) + "TSettings" + record +
           char(0) + char(0);
}

QByteArray streamOf(const TSettings &settings)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    settings.writeStream(buffer);
    return buffer.data();
}

// A settings file whose save folder is stored as these bytes, in a short or long text.
QByteArray fileWithSaveFolderBytes(const QByteArray &bytes)
{
    TSettings settings;
    settings.setRegistryDefaults();
    settings.saveFolder = QStringLiteral("(save folder)");
    QByteArray stored = char(6) + QByteArray(1, char(bytes.size())) + bytes;
    if (bytes.size() > 255) {
        stored = char(12) + QByteArray(4, '\0') + bytes;
        qToLittleEndian(qint32(bytes.size()), stored.data() + 1);
    }
    return streamOf(settings).replace(shortText("(save folder)"), stored);
}

void readInto(TSettings &settings, const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    settings.readStream(buffer);
}

} // namespace

class TestStorage : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path())); }
    void init() { QFile::remove(TRegistry::hivePath(TRegistry::Root::CurrentUser)); }

    void exampleBytes()
    {
        TSettings settings;
        settings.setRegistryDefaults();
        QCOMPARE(streamOf(settings), defaultsFile());
        TSettings loaded;
        readInto(loaded, defaultsFile());
        QCOMPARE(loaded.formatVersion, 7);
        QCOMPARE(loaded.numberFormat, QStringLiteral("%5.5d.txt"));
        QVERIFY(loaded.includeSubject && loaded.getFromDefaultFolder && !loaded.logToFile);
        QCOMPARE(loaded.logFilename, QStringLiteral("quillbrook.log"));
    }

    void smallestForms()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        SettingsWriter writer(buffer);
        writer.writeInteger(200);
        writer.writeInteger(-1);
        writer.writeInteger(40000);
        writer.writeString(QString(255, QLatin1Char('a')));
        writer.writeString(QString(256, QLatin1Char('b')));
        const QByteArray bytes = buffer.data();
        QCOMPARE(bytes.left(10), QByteArray::fromHex("03c80002ff04409c0000"));
        QCOMPARE(bytes.mid(10, 2), QByteArray::fromHex("06ff"));
        QCOMPARE(bytes.mid(10 + 2 + 255, 5), QByteArray::fromHex("0c00010000"));

        buffer.close();
        buffer.open(QIODevice::ReadOnly);
        SettingsReader reader(buffer);
        QCOMPARE(reader.readInteger(), 200);
        QCOMPARE(reader.readInteger(), -1);
        QCOMPARE(reader.readInteger(), 40000);
        QCOMPARE(reader.readString(), QString(255, QLatin1Char('a')));
        QCOMPARE(reader.readString(), QString(256, QLatin1Char('b')));
    }

    void olderVersionsUpgrade_data()
    {
        QTest::addColumn<int>("version");
        for (int v = 1; v <= 8; ++v)
            QTest::newRow(qPrintable(QStringLiteral("v%1").arg(v))) << v;
    }
    void olderVersionsUpgrade()
    {
        QFETCH(int, version);
        TSettings settings;
        readInto(settings, fileOfVersion(version));
        QCOMPARE(settings.formatVersion, version);
        QCOMPARE(settings.skarvellFilter, QStringLiteral("filter"));
        QCOMPARE(settings.firstNumber, 5);
        QCOMPARE(settings.msgDestination, version >= 2 ? QStringLiteral("dest") : QString());
        QCOMPARE(settings.entryId, version >= 3 ? QStringLiteral("entry") : QString());
        QCOMPARE(settings.moveMessages, version < 6);
        QCOMPARE(settings.getFromDefaultFolder, version < 6);
        QCOMPARE(settings.fromFolderName,
                 version >= 6 ? QStringLiteral("Email Folders\\X") : QString());
        QCOMPARE(settings.logToFile, version >= 7);
        QCOMPARE(settings.logFilename,
                 version >= 7 ? QStringLiteral("job.log") : QStringLiteral("quillbrook.log"));
        // Saved again, it is a version 7 file with every item.
        TSettings again;
        readInto(again, streamOf(settings));
        QCOMPARE(again.formatVersion, 7);
        QCOMPARE(again.entryId, settings.entryId);
        QCOMPARE(again.moveMessages, settings.moveMessages);
    }

    void truncatedAtEveryLength()
    {
        QTemporaryDir dir;
        const QByteArray whole = defaultsFile();
        const QString path = dir.filePath(QStringLiteral("cut.qbk"));
        TSettings settings;
        settings.fileName = QStringLiteral("/kept.qbk");
        for (int length = 0; length < whole.size(); ++length) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(whole.left(length));
            file.close();
            const QString message = errorOf([&] { settings.loadFromFile(path); });
            QVERIFY2(message == QStringLiteral("Stream read error") ||
                         message ==
                             QStringLiteral("Error reading TSettings.TSettings: Stream read error"),
                     qPrintable(QStringLiteral("%1: %2").arg(length).arg(message)));
            const bool insideRecord = length >= 4 + 10 + 1 + 10 && length < whole.size() - 2;
            QCOMPARE(message.startsWith(QStringLiteral("Error reading")), insideRecord);
            QCOMPARE(settings.fileName, QStringLiteral("/kept.qbk"));
        }
    }

    void malformedFiles()
    {
        TSettings settings;
        QCOMPARE(errorOf([&] { readInto(settings, "TPF1" + defaultsFile().mid(4)); }),
                 QStringLiteral("Invalid stream format"));
        QByteArray wrongTag = defaultsFile();
        wrongTag[25] = char(6); // a text where the version goes
        QCOMPARE(errorOf([&] { readInto(settings, wrongTag); }),
                 QStringLiteral("Error reading TSettings.TSettings: Invalid property value"));
        QByteArray looseBool = defaultsFile();
        const qsizetype includeSubject = looseBool.indexOf("%5.5d.txt") + 9;
        looseBool[includeSubject] = char(2);
        readInto(settings, looseBool);
        QVERIFY(!settings.includeSubject); // any tag but 09 is false
        QCOMPARE(errorOf([&] { settings.loadFromFile(QStringLiteral("/nonexistent/x.qbk")); }),
                 QStringLiteral("Cannot open file /nonexistent/x.qbk"));
        QCOMPARE(errorOf([&] { settings.saveToFile(QStringLiteral("/nonexistent/x.qbk")); }),
                 QStringLiteral("Cannot create file /nonexistent/x.qbk"));
    }

    void fileRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("job.qbk"));
        TSettings settings;
        settings.setRegistryDefaults();
        settings.saveFolder = QStringLiteral("/home/ü/saved");
        settings.fromFolderName = QString(300, QLatin1Char('x'));
        settings.firstNumber = -70000;
        settings.saveToFile(path);
        QCOMPARE(settings.fileName, path);
        TSettings loaded;
        loaded.loadFromFile(path);
        QCOMPARE(loaded.saveFolder, settings.saveFolder);
        QCOMPARE(loaded.fromFolderName, settings.fromFolderName);
        QCOMPARE(loaded.firstNumber, -70000);
        QCOMPARE(loaded.fileName, path);
    }

    void textsInASingleByteCodePage()
    {
        // Windows-1252: é, the euro sign, curly quotes, and 0x81, which the code page leaves out.
        const QByteArray windows1252("C:\\Donn\xe9"
                                     "es \x80 \x93q\x94 \x81");
        const QString expected = QStringLiteral("C:\\Données € “q” \u0081");
        for (const QByteArray &bytes : {windows1252, windows1252.repeated(20)}) {
            TSettings settings;
            readInto(settings, fileWithSaveFolderBytes(bytes));
            QCOMPARE(settings.saveFolder, expected.repeated(bytes.size() / windows1252.size()));
            // Saved again, the text is UTF-8 and reads the same.
            TSettings again;
            readInto(again, streamOf(settings));
            QCOMPARE(again.saveFolder, settings.saveFolder);
        }
        // UTF-8 stays UTF-8, even where its bytes would also be Windows-1252 text.
        TSettings utf8;
        readInto(utf8, fileWithSaveFolderBytes(QStringLiteral("C:\\Données €").toUtf8()));
        QCOMPARE(utf8.saveFolder, QStringLiteral("C:\\Données €"));
    }

    void registryDefaultsAndTypes()
    {
        TSettings settings;
        settings.loadFromRegistry();
        QCOMPARE(settings.numberFormat, QStringLiteral("%5.5d.txt"));
        QVERIFY(settings.includeSubject);
        QVERIFY(settings.getFromDefaultFolder);
        QCOMPARE(settings.logFilename, QStringLiteral("quillbrook.log"));

        TRegistry registry;
        QVERIFY(registry.OpenKey(TSettings::valueName(0), true));
        registry.WriteString(QStringLiteral("First number"), QStringLiteral("12"));
        registry.WriteInteger(QStringLiteral("include subject"), 2);
        registry.WriteString(QStringLiteral("get from default folder"), QStringLiteral("1"));
        registry.WriteString(QStringLiteral("log filename"), QString());
        registry.WriteExpandString(QStringLiteral("Save folder"), QStringLiteral("$HOME/saved"));
        settings.loadFromRegistry();
        QCOMPARE(settings.firstNumber, 0);
        QVERIFY(settings.includeSubject);
        QVERIFY(settings.getFromDefaultFolder);
        QCOMPARE(settings.logFilename, QString()); // an empty text is not the default
        QCOMPARE(settings.saveFolder, QStringLiteral("$HOME/saved"));

        settings.firstNumber = -5;
        settings.logToFile = true;
        settings.fromFolderName = QStringLiteral("Email Folders\\Mail \"quoted\"\\a\\b");
        settings.msgDestination = QStringLiteral("two\r\nlines");
        settings.saveToRegistry();
        TSettings reloaded;
        reloaded.loadFromRegistry();
        QCOMPARE(reloaded.firstNumber, -5);
        QVERIFY(reloaded.logToFile);
        QCOMPARE(reloaded.fromFolderName, settings.fromFolderName);
        QCOMPARE(reloaded.msgDestination, settings.msgDestination);
    }

    void hiveFormat()
    {
        const Hive hive = Hive::parse(
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\A]\n\"Text\"=\"a \\\"b\\\" \\\\c\"\n"
            "\"Number\"=dword:0000002a\n\"Expand\"=hex(2):25,00\n\"Long\"=hex(2):41,\\\n  42,00\n"
            "\"Binary\"=hex:01,02\n@=\"default\"\n");
        QCOMPARE(
            hive.value(QStringLiteral("hkey_current_user\\SOFTWARE\\a"), QStringLiteral("TEXT"))
                ->text,
            QStringLiteral("a \"b\" \\c"));
        QCOMPARE(
            hive.value(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"), QStringLiteral("Number"))
                ->number,
            42u);
        QCOMPARE(
            hive.value(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"), QStringLiteral("Expand"))
                ->text,
            QStringLiteral("%"));
        QCOMPARE(
            hive.value(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"), QStringLiteral("Long"))
                ->text,
            QStringLiteral("AB"));
        QCOMPARE(
            hive.value(QStringLiteral("HKEY_CURRENT_USER\\Software\\A"), QStringLiteral("Binary"))
                ->type,
            RegistryValue::Type::Other);
        QCOMPARE(Hive::parse(hive.serialize()).serialize(), hive.serialize());
        for (const QByteArray &bad :
             {QByteArray("not a hive"), QByteArray("REGEDIT4\n\"x\"=\"y\"\n"),
              QByteArray("REGEDIT4\n[K]\n\"x\"=dword:zz\n"), QByteArray("REGEDIT4\n[K\n")})
            QVERIFY_THROWS_EXCEPTION(qb::Error, Hive::parse(bad));
    }

    void unreadableHiveIsKeptAside()
    {
        const QString path = TRegistry::hivePath(TRegistry::Root::CurrentUser);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("garbage that is not a hive");
        file.close();
        TSettings settings;
        settings.loadFromRegistry();
        QVERIFY(settings.getFromDefaultFolder);
        const QStringList aside =
            QDir(QFileInfo(path).path()).entryList({QStringLiteral("user.reg.unreadable-*")});
        QCOMPARE(aside.size(), 1);
        QFile kept(QFileInfo(path).path() + QLatin1Char('/') + aside.first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("garbage that is not a hive"));
        kept.remove();
    }

    void twoWritersKeepEachOthersValues()
    {
        QList<QThread *> writers;
        for (int w = 0; w < 2; ++w) {
            writers << QThread::create([w] {
                for (int i = 0; i < 40; ++i) {
                    TRegistry registry; // each has its own file handles, as another process would
                    registry.OpenKey(QStringLiteral("Software\\Test\\Writer%1").arg(w), true);
                    registry.WriteInteger(QStringLiteral("v%1").arg(i), i);
                }
            });
            writers.last()->start();
        }
        for (QThread *writer : writers) {
            QVERIFY(writer->wait(60000));
            delete writer;
        }
        TRegistry registry;
        for (int w = 0; w < 2; ++w) {
            QVERIFY(registry.OpenKey(QStringLiteral("Software\\Test\\Writer%1").arg(w), false));
            for (int i = 0; i < 40; ++i)
                QCOMPARE(readIntegerOr(registry, QStringLiteral("v%1").arg(i), -1), i);
        }
    }

    void mailStoresFromTheRegistry()
    {
        QCOMPARE(mailstore::registeredMaildirs(), QStringList());
        const QString stores = TSettings::valueName(0) + QStringLiteral("\\Mail stores\\");
        TRegistry registry;
        QVERIFY(registry.OpenKey(stores + QStringLiteral("Home"), true));
        registry.WriteString(QStringLiteral("Type"), QStringLiteral("Maildir"));
        registry.WriteString(QStringLiteral("Path"), QStringLiteral("/home/u/Maildir"));
        QVERIFY(registry.OpenKey(stores + QStringLiteral("Work"), true));
        registry.WriteString(QStringLiteral("Type"), QStringLiteral("imap"));
        registry.WriteString(QStringLiteral("Path"), QStringLiteral("ignored"));
        QVERIFY(registry.OpenKey(stores + QStringLiteral("Archive"), true));
        registry.WriteString(QStringLiteral("Type"), QStringLiteral("maildir"));
        registry.WriteString(QStringLiteral("Path"), QStringLiteral("/srv/archive"));
        QCOMPARE(mailstore::registeredMaildirs(), QStringList({"/home/u/Maildir", "/srv/archive"}));
    }

    void keysAndDeletion()
    {
        TRegistry registry;
        QVERIFY(!registry.OpenKey(QStringLiteral("Software\\Nope"), false));
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\K\\Sub1"), true));
        registry.WriteString(QStringLiteral("a"), QStringLiteral("1"));
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\K\\Sub2\\Deep"), true));
        QVERIFY(registry.OpenKey(QStringLiteral("software\\k"), false));
        QCOMPARE(registry.subKeys(), QStringList({"Sub1", "Sub2"}));
        QVERIFY(registry.DeleteKey(QStringLiteral("Software\\K")));
        QVERIFY(!registry.KeyExists(QStringLiteral("Software\\K\\Sub2\\Deep")));
        QVERIFY_THROWS_EXCEPTION(qb::Error,
                                 registry.WriteString(QStringLiteral("x"), QStringLiteral("y"));
                                 TRegistry().WriteString(QStringLiteral("no key open"), QString()));
    }
};

QTEST_GUILESS_MAIN(TestStorage)
#include "test_storage.moc"
