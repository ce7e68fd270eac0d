#include "common/Error.h"
#include "mailstore/StoreConfig.h"
#include "settings/Hive.h"
#include "settings/ReplacementCounter.h"
#include "settings/SettingsStream.h"
#include "settings/TRecentStrings.h"
#include "settings/TRegistry.h"
#include "settings/TSettings.h"
#include "support/ErrorOf.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <cstdio>
#include <functional>
#include <unistd.h>

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

// A hive whose one key has this many levels, root included, with a value in it.
QByteArray hiveWithKeyLevels(int levels)
{
    QByteArray content = "REGEDIT4\n\n[HKEY_CURRENT_USER";
    for (int i = 1; i < levels; ++i)
        content += "\\k";
    return content + "]\n\"v\"=\"x\"\n";
}

QByteArray hiveWithValue(const QByteArray &value)
{
    return "REGEDIT4\n[K]\n\"v\"=" + value + '\n';
}

QByteArray hexList(qsizetype count)
{
    QByteArray list = QByteArray("41,").repeated(count);
    list.chop(1);
    return list;
}

// What action writes on stderr.
QByteArray stderrOf(const std::function<void()> &action)
{
    QTemporaryFile capture;
    if (!capture.open())
        return {};
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    action();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
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
        settings.saveFolder = QStringLiteral("/kept/saved");
        settings.firstNumber = 41;
        settings.includeSubject = true;
        settings.logFilename = QStringLiteral("kept.log");
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
            // Nothing of a file that fails is taken, also what came before the failure.
            QCOMPARE(settings.fileName, QStringLiteral("/kept.qbk"));
            QCOMPARE(settings.saveFolder, QStringLiteral("/kept/saved"));
            QCOMPARE(settings.firstNumber, 41);
            QVERIFY(settings.includeSubject);
            QCOMPARE(settings.logFilename, QStringLiteral("kept.log"));
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

    void hiveLimits()
    {
        const QString deepest =
            QStringLiteral("HKEY_CURRENT_USER") + QStringLiteral("\\k").repeated(63);
        QCOMPARE(Hive::parse(hiveWithKeyLevels(64)).value(deepest, QStringLiteral("v"))->text,
                 QStringLiteral("x"));
        for (const int levels : {65, 20000})
            QCOMPARE(errorOf([&] { Hive::parse(hiveWithKeyLevels(levels)); }),
                     QStringLiteral("line 3: a key has more than 64 levels"));
        const auto keyNamed = [](qsizetype length) {
            return "REGEDIT4\n[HKEY_CURRENT_USER\\" + QByteArray(length, 'n') + "\\x]\n";
        };
        QVERIFY(Hive::parse(keyNamed(255))
                    .hasKey(QStringLiteral("HKEY_CURRENT_USER\\") + QString(255, QLatin1Char('N')) +
                            QStringLiteral("\\X")));
        QCOMPARE(errorOf([&] { Hive::parse(keyNamed(256)); }),
                 QStringLiteral("line 2: a level of a key's name is longer than 255 characters"));

        // A value's data up to 1 MiB, however it is written; a file up to 16 MiB.
        const QByteArray mebibyte(Hive::MaxValueBytes, 'x');
        QCOMPARE(Hive::parse(hiveWithValue('"' + mebibyte + '"'))
                     .value(QStringLiteral("K"), QStringLiteral("v"))
                     ->text.size(),
                 Hive::MaxValueBytes);
        QVERIFY(Hive::parse(hiveWithValue("hex(2):" + hexList(Hive::MaxValueBytes)))
                    .value(QStringLiteral("K"), QStringLiteral("v")));
        QVERIFY(Hive::parse(hiveWithValue("hex:" + hexList(Hive::MaxValueBytes)))
                    .value(QStringLiteral("K"), QStringLiteral("v")));
        for (const QByteArray &tooLarge :
             {'"' + mebibyte + "x\"", "hex(2):" + hexList(Hive::MaxValueBytes + 1),
              "hex(1):" + hexList(Hive::MaxValueBytes + 1),
              "hex:" + hexList(Hive::MaxValueBytes + 6)})
            QCOMPARE(errorOf([&] { Hive::parse(hiveWithValue(tooLarge)); }),
                     QStringLiteral("line 3: a value is larger than 1 MiB"));
        QCOMPARE(errorOf([&] { Hive::parse("REGEDIT4\n;" + QByteArray(Hive::MaxFileBytes, ';')); }),
                 QStringLiteral("the file is larger than 16 MiB"));

        // Changes are held to the same limits, so that what is written can be read again.
        Hive hive;
        const RegistryValue accented{
            RegistryValue::Type::String, QString(Hive::MaxValueBytes / 2 + 1, QChar(0xE9)), 0, {}};
        QCOMPARE(
            errorOf([&] { hive.setValue(QStringLiteral("K"), QStringLiteral("v"), accented); }),
            QStringLiteral("a value is larger than 1 MiB"));
        QCOMPARE(errorOf([&] { hive.createKey(deepest + QStringLiteral("\\k")); }),
                 QStringLiteral("a key has more than 64 levels"));
        QVERIFY(!hive.hasKey(QStringLiteral("K")));
        QVERIFY(!hive.hasKey(QStringLiteral("HKEY_CURRENT_USER")));
    }

    void hiveIndexFollowsChanges()
    {
        const QString base = QStringLiteral("HKEY_CURRENT_USER\\Software\\Many");
        const auto key = [&](int i) { return base + QStringLiteral("\\Key%1\\Sub").arg(i); };
        Hive hive;
        for (int i = 0; i < 300; ++i)
            hive.setValue(key(i), QStringLiteral("Value"),
                          {RegistryValue::Type::Dword, {}, quint32(i), {}});
        QCOMPARE(hive.subKeys(base.toUpper()).size(), 300);
        QCOMPARE(hive.subKeys(base).last(), QStringLiteral("Key299"));

        QVERIFY(hive.removeKey(base.toLower() + QStringLiteral("\\key7")));
        QVERIFY(!hive.removeKey(base + QStringLiteral("\\Key7")));
        QVERIFY(!hive.hasKey(key(7)));
        // The keys after the removed ones are still found, with their values and children.
        QCOMPARE(hive.value(key(299).toLower(), QStringLiteral("VALUE"))->number, 299u);
        QCOMPARE(hive.subKeys(base + QStringLiteral("\\Key8")), QStringList({"Sub"}));
        QCOMPARE(hive.subKeys(base).size(), 299);
        QVERIFY(!hive.subKeys(base).contains(QStringLiteral("Key7")));
        hive.createKey(key(8) + QStringLiteral("\\New"));
        QCOMPARE(hive.subKeys(key(8)), QStringList({"New"}));

        // A value keeps its first spelling; removing one leaves the others found.
        hive.setValue(key(0), QStringLiteral("Second"), {});
        hive.setValue(key(0), QStringLiteral("THIRD"), {});
        hive.setValue(key(0), QStringLiteral("second"),
                      {RegistryValue::Type::String, QStringLiteral("2"), 0, {}});
        QVERIFY(hive.removeValue(key(0), QStringLiteral("value")));
        QVERIFY(!hive.removeValue(key(0), QStringLiteral("value")));
        QCOMPARE(hive.value(key(0), QStringLiteral("SECOND"))->text, QStringLiteral("2"));
        QVERIFY(hive.value(key(0), QStringLiteral("third")));
        QVERIFY(hive.serialize().contains("\"Second\"=\"2\"\n\"THIRD\"=\"\"\n"));
        QCOMPARE(Hive::parse(hive.serialize()).serialize(), hive.serialize());
    }

    void hiveReadsBackWhatItWrote()
    {
        // A text ends at its first NUL, however it came, as it does in its hex form.
        const char hiveWithNul[] = "REGEDIT4\n[K]\n\"v\"=\"/h\0\0u/Maildir\"\n";
        const QByteArray withNul(hiveWithNul, sizeof hiveWithNul - 1);
        const Hive read = Hive::parse(withNul);
        QCOMPARE(read.value(QStringLiteral("K"), QStringLiteral("v"))->text, QStringLiteral("/h"));
        Hive changed;
        changed.setValue(QStringLiteral("K"), QStringLiteral("v"),
                         {RegistryValue::Type::String, QStringLiteral("/h\0u"), 0, {}});
        QCOMPARE(changed.serialize(), read.serialize());
        // A line whose last character but blanks is "\" goes on; at the end of the file,
        // into nothing. No value read ends in "\", to go on into the next line once written.
        const Hive cut =
            Hive::parse("REGEDIT4\n[K]\n\"v\"=hex:01,\\ \t\n  02\r\n\"w\"=hex:03 \\ \\ ");
        QCOMPARE(cut.value(QStringLiteral("K"), QStringLiteral("v"))->raw, QByteArray("hex:01,02"));
        QCOMPARE(cut.value(QStringLiteral("K"), QStringLiteral("w"))->raw, QByteArray("hex:03"));
        for (const Hive &hive : {read, cut})
            QCOMPARE(Hive::parse(hive.serialize()).serialize(), hive.serialize());
    }

    void hivePastTheLimitsIsKeptAside()
    {
        const QString path = TRegistry::hivePath(TRegistry::Root::CurrentUser);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(hiveWithKeyLevels(20000));
        file.close();
        const QByteArray message = stderrOf([] {
            TRegistry registry;
            QVERIFY(!registry.OpenKey(QStringLiteral("k"), false));
        });
        QVERIFY2(message.contains("cannot be read (line 3: a key has more than 64 levels); it "
                                  "was kept as " +
                                  QFile::encodeName(path) + ".unreadable-"),
                 message.constData());
        const QStringList aside =
            QDir(QFileInfo(path).path()).entryList({QStringLiteral("user.reg.unreadable-*")});
        QCOMPARE(aside.size(), 1);
        QFile kept(QFileInfo(path).path() + QLatin1Char('/') + aside.first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), hiveWithKeyLevels(20000));
        kept.remove();
    }

    void registryRefusesWhatCouldNotBeReadBack()
    {
        TRegistry registry;
        QVERIFY(!registry.OpenKey(QStringLiteral("k\\").repeated(64), true));
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\Limits"), true));
        QCOMPARE(errorOf([&] {
                     registry.WriteString(QStringLiteral("big"),
                                          QString(Hive::MaxValueBytes + 1, QLatin1Char('x')));
                 }),
                 QStringLiteral("Failed to set data for 'big'"));
        QVERIFY(!registry.value(QStringLiteral("big")));
        // Values each within the limit, together past the file's: the last is refused and
        // the file stays as it was.
        const QString mebibyte(Hive::MaxValueBytes, QLatin1Char('x'));
        for (int i = 0; i < 15; ++i)
            registry.WriteString(QStringLiteral("v%1").arg(i), mebibyte);
        QFile file(TRegistry::hivePath(TRegistry::Root::CurrentUser));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QCOMPARE(errorOf([&] { registry.WriteString(QStringLiteral("v15"), mebibyte); }),
                 QStringLiteral("Failed to set data for 'v15'"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
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

    void savesWriteTheHiveOnce()
    {
        const QString path = TRegistry::hivePath(TRegistry::Root::CurrentUser);
        QDir().mkpath(QFileInfo(path).path());
        ReplacementCounter replacements(path);
        QVERIFY(replacements.watching());
        TSettings settings;
        settings.setRegistryDefaults();
        settings.saveFolder = QStringLiteral("/saved");
        settings.saveToRegistry();
        QCOMPARE(replacements.take(), 1);
        TRecentStrings recent;
        for (int i = 0; i < TRecentStrings::Capacity; ++i)
            recent.addRecent(QStringLiteral("/jobs/%1.qbk").arg(i));
        recent.saveToRegistry(TSettings::valueName(21));
        recent.saveToRegistry(TSettings::valueName(21));
        QCOMPARE(replacements.take(), 2);

        TSettings reloaded;
        reloaded.loadFromRegistry();
        QCOMPARE(reloaded.saveFolder, QStringLiteral("/saved"));
        TRecentStrings listed;
        listed.loadFromRegistry(TSettings::valueName(21));
        QCOMPARE(listed.entries().size(), TRecentStrings::Capacity);
        QCOMPARE(listed.entries().first().text, QStringLiteral("/jobs/9.qbk"));
    }

    void batchHoldsChangesUntilCommit()
    {
        const QString path = TRegistry::hivePath(TRegistry::Root::CurrentUser);
        const QString base = QStringLiteral("Software\\Batch\\");
        TRegistry other; // another running copy
        QVERIFY(other.OpenKey(base + QStringLiteral("Other"), true));
        other.WriteInteger(QStringLiteral("before"), 1);
        ReplacementCounter replacements(path);

        TRegistry registry;
        registry.beginBatch();
        for (int k = 0; k < 5; ++k) {
            QVERIFY(registry.OpenKey(base + QStringLiteral("K%1").arg(k), true));
            for (int v = 0; v < 40; ++v)
                registry.WriteInteger(QStringLiteral("v%1").arg(v), k * 100 + v);
        }
        QVERIFY(registry.DeleteValue(QStringLiteral("V0")));
        QVERIFY(!registry.DeleteValue(QStringLiteral("none")));
        QVERIFY(registry.DeleteKey(base + QStringLiteral("K3")));
        // This object's reads see the held changes; nobody else's do.
        QVERIFY(registry.KeyExists(base + QStringLiteral("K2")));
        QVERIFY(!registry.KeyExists(base + QStringLiteral("K3")));
        QVERIFY(registry.OpenKey(base + QStringLiteral("K2"), false));
        QCOMPARE(readIntegerOr(registry, QStringLiteral("v5"), -1), 205);
        QVERIFY(!TRegistry().KeyExists(base + QStringLiteral("K2")));
        QCOMPARE(replacements.take(), 0);
        // The commit re-reads the hive, so what another copy wrote meanwhile stays.
        other.WriteInteger(QStringLiteral("meanwhile"), 2);
        QCOMPARE(replacements.take(), 1);
        registry.commit();
        QCOMPARE(replacements.take(), 1);

        TRegistry after;
        for (const int k : {0, 1, 2, 4}) {
            QVERIFY(after.OpenKey(base + QStringLiteral("K%1").arg(k), false));
            QCOMPARE(readIntegerOr(after, QStringLiteral("v39"), -1), k * 100 + 39);
            QCOMPARE(readIntegerOr(after, QStringLiteral("v0"), -1), k == 4 ? -1 : k * 100);
        }
        QVERIFY(!after.KeyExists(base + QStringLiteral("K3")));
        QVERIFY(after.OpenKey(base + QStringLiteral("Other"), false));
        QCOMPARE(readIntegerOr(after, QStringLiteral("before"), -1), 1);
        QCOMPARE(readIntegerOr(after, QStringLiteral("meanwhile"), -1), 2);
        // Once committed, writes go to the file one by one again.
        registry.WriteInteger(QStringLiteral("single"), 3);
        QCOMPARE(replacements.take(), 1);
    }

    void batchEndings()
    {
        // A batch still open when its registry goes away is written then.
        {
            TRegistry registry;
            registry.beginBatch();
            QVERIFY(registry.OpenKey(QStringLiteral("Software\\Late"), true));
            registry.WriteString(QStringLiteral("a"), QStringLiteral("b"));
        }
        TRegistry reader;
        QVERIFY(reader.OpenKey(QStringLiteral("Software\\Late"), false));
        QCOMPARE(readStringOr(reader, QStringLiteral("a"), QString()), QStringLiteral("b"));

        // A hive that cannot be written: the error names the first value, as a single
        // write would have, and the batch is over.
        QTemporaryDir elsewhere;
        QFile blocker(elsewhere.filePath(QStringLiteral("quillbrook")));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(elsewhere.path()));
        TRegistry blocked;
        qputenv("XDG_CONFIG_HOME", config);
        blocked.beginBatch();
        QVERIFY(blocked.OpenKey(QStringLiteral("Software\\Blocked"), true));
        blocked.WriteString(QStringLiteral("first"), QStringLiteral("1"));
        blocked.WriteString(QStringLiteral("second"), QStringLiteral("2"));
        QCOMPARE(errorOf([&] { blocked.commit(); }),
                 QStringLiteral("Failed to set data for 'first'"));
        QCOMPARE(errorOf([&] { blocked.commit(); }), QString());
        QCOMPARE(errorOf([&] { blocked.WriteString(QStringLiteral("third"), QString()); }),
                 QStringLiteral("Failed to set data for 'third'"));
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
        // In the order of the stores' names; the account lacks its host and user.
        QCOMPARE(mailstore::registeredMaildirs(), QStringList({"/srv/archive", "/home/u/Maildir"}));
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
