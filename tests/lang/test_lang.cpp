#include "common/Error.h"
#include "common/Format.h"
#include "lang/Escape.h"
#include "lang/IniFile.h"
#include "lang/TStringLoader.h"
#include "support/ErrorOf.h"
#include "support/Files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestLang : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void escapeEveryByte()
    {
        QByteArray all;
        for (int code = 0; code < 256; ++code)
            all.append(char(code));
        const QByteArray escaped = escapeBytes(all);
        QCOMPARE(unescapeBytes(escaped), all);
        QVERIFY(
            escaped.startsWith("\\000\\001\\002\\003\\004\\005\\006\\a\\b\\t\\n\\v\\f\\r\\016"));
        QVERIFY(escaped.contains("\\032\\e\\034\\035\\036\\037 !"));
        QVERIFY(escaped.contains("[\\\\]"));
        for (const char c : escaped)
            QVERIFY(uchar(c) >= 32); // one line whatever the text
        QCOMPARE(Unescape(Escape(QStringLiteral("Zeile\r\nzwei \\ ü €"))),
                 QStringLiteral("Zeile\r\nzwei \\ ü €"));
    }

    void unescape_data()
    {
        QTest::addColumn<QByteArray>("escaped");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        const QString digits = QStringLiteral(
            "\\OOO You must specify all 3 octal digits (Leading zeros are required)");
        QTest::newRow("octal letter") << QByteArray("\\101") << QByteArray("A") << "";
        QTest::newRow("unknown escape kept") << QByteArray("\\q\\N") << QByteArray("\\q\\N") << "";
        QTest::newRow("upper case not an escape") << QByteArray("\\T") << QByteArray("\\T") << "";
        QTest::newRow("line break") << QByteArray("a\\r\\nb") << QByteArray("a\r\nb") << "";
        QTest::newRow("max") << QByteArray("\\377") << QByteArray("\xff") << "";
        QTest::newRow("over max") << QByteArray("\\400") << QByteArray()
                                  << "\\OOO Maximum octal value is \\377";
        QTest::newRow("eight") << QByteArray("\\08") << QByteArray() << digits;
        QTest::newRow("x") << QByteArray("\\0x1") << QByteArray() << digits;
        QTest::newRow("short at end")
            << QByteArray("ab\\7") << QByteArray() << "\\OOO Expecting 3 trailing octal digits";
        QTest::newRow("trailing backslash")
            << QByteArray("ab\\") << QByteArray()
            << "Trailing \\ needs to be followed by another \\ or 3 Octal digits";
    }
    void unescape()
    {
        QFETCH(QByteArray, escaped);
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        QCOMPARE(errorOf([&] { QCOMPARE(unescapeBytes(escaped), text); }), error);
    }

    void iniRules()
    {
        IniFile ini = IniFile::parse(
            "; translator's note\nstray=before any section\n[Global]\n"
            "900=Info\r\n\r\n910= spaced = value \n[TForm1]\nCANCELBUTTON.CAPTION=&Stop\n"
            "[global]\n920=Error\n900=ignored duplicate\n");
        QCOMPARE(ini.value("GLOBAL", "900"), QByteArray("Info"));
        QCOMPARE(ini.value("global", "910"), QByteArray(" spaced = value "));
        QCOMPARE(ini.value("global", "920"), QByteArray("Error"));
        QVERIFY(ini.contains("tform1", "cancelButton.Caption"));
        QVERIFY(!ini.contains("global", "stray"));
        ini.setValue("TForm1", "okButton.Caption", "&OK");
        ini.setValue("TNew", "x.Hint", "");
        QCOMPARE(ini.serialize(),
                 QByteArray("[Global]\r\n900=Info\r\n910= spaced = value \r\n920=Error\r\n\r\n"
                            "[TForm1]\r\nCANCELBUTTON.CAPTION=&Stop\r\nokButton.Caption=&OK\r\n\r\n"
                            "[TNew]\r\nx.Hint=\r\n\r\n"));
    }

    void firstRunFillsTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/Languages/English.ini");
        {
            TStringLoader loader(path);
            QCOMPARE(LoadLangString(970, QStringLiteral("Error %s\r\n%s")),
                     QStringLiteral("Error %s\r\n%s"));
            QCOMPARE(LoadLangString(900, QStringLiteral("Info")), QStringLiteral("Info"));
        }
        QCOMPARE(readFile(path),
                 QByteArray("[global]\r\n970=Error %s\\r\\n%s\r\n900=Info\r\n\r\n"));
        // Without a loader, the built-in text.
        QCOMPARE(LoadLangString(900, QStringLiteral("Built in")), QStringLiteral("Built in"));
    }

    void translationsAreUsed()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/English.ini");
        writeFile(path, "[GLOBAL]\n900=Informaci\xC3\xB3n\n910=\n920=\\400\n; comment\n");
        TStringLoader loader(path);
        QCOMPARE(LoadLangString(900, QStringLiteral("Info")), QStringLiteral("Información"));
        QCOMPARE(LoadLangString(910, QStringLiteral("Warning")), QString()); // present but empty
        QCOMPARE(errorOf([] { LoadLangString(920, QStringLiteral("Error")); }),
                 QStringLiteral("\\OOO Maximum octal value is \\377"));
        QVERIFY(readFile(path).contains("; comment")); // nothing was added, nothing written
        LoadLangString(930, QStringLiteral("date"));
        QVERIFY(!readFile(path).contains("; comment"));
    }

    void componentTexts()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/English.ini");
        writeFile(path, "[TForm1]\nCANCELBUTTON.CAPTION=&Stop\nokButton.Caption=\n");
        TStringLoader loader(path);
        QCOMPARE(loader.componentText(QStringLiteral("TForm1"), QStringLiteral("cancelButton"),
                                      QStringLiteral("Caption"), QStringLiteral("&Cancel")),
                 QStringLiteral("&Stop"));
        QCOMPARE(loader.componentText(QStringLiteral("TForm1"), QStringLiteral("okButton"),
                                      QStringLiteral("Caption"), QStringLiteral("&OK")),
                 QStringLiteral("&OK"));
        QCOMPARE(loader.componentText(QStringLiteral("TForm1"), QString(),
                                      QStringLiteral("Caption"), QStringLiteral("unnamed")),
                 QStringLiteral("unnamed"));
        loader.componentText(QStringLiteral("TForm1"), QStringLiteral("label1"),
                             QStringLiteral("Caption"), QStringLiteral("Two\r\nlines"));
        const QByteArray written = readFile(path);
        QVERIFY(written.contains("label1.Caption=Two\\r\\nlines\r\n"));
        QVERIFY(!written.contains(".Caption=unnamed"));
    }

    // An installation's copy may be read-only (or owned by root): it is read, the user's
    // own file wins over it, and only the texts that both lack are added, to the user's.
    void installedCopyIsReadAndTheUsersIsFilled()
    {
        QTemporaryDir dir;
        const QString installed = dir.path() + QStringLiteral("/share/English.ini");
        QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/share")));
        const QByteArray installedContent = "[global]\n900=Informaci\xC3\xB3n\n910=Av\xC3\xADs\n"
                                            "[TForm1]\nokButton.Caption=&Vale\n";
        writeFile(installed, installedContent);
        QVERIFY(QFile::setPermissions(installed, QFile::ReadOwner | QFile::ReadGroup));
        const QString own = dir.path() + QStringLiteral("/user/Languages/English.ini");
        QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/user/Languages")));
        writeFile(own, "[global]\r\n910=Mine\r\n\r\n");
        {
            TStringLoader loader(own, installed);
            QCOMPARE(LoadLangString(900, QStringLiteral("Info")), QStringLiteral("Información"));
            QCOMPARE(LoadLangString(910, QStringLiteral("Warning")), QStringLiteral("Mine"));
            QCOMPARE(LoadLangString(920, QStringLiteral("Error")), QStringLiteral("Error"));
            QCOMPARE(loader.componentText(QStringLiteral("TForm1"), QStringLiteral("okButton"),
                                          QStringLiteral("Caption"), QStringLiteral("&OK")),
                     QStringLiteral("&Vale"));
            loader.componentText(QStringLiteral("TForm1"), QStringLiteral("cancelButton"),
                                 QStringLiteral("Caption"), QStringLiteral("&Cancel"));
        }
        QCOMPARE(readFile(own), QByteArray("[global]\r\n910=Mine\r\n920=Error\r\n\r\n"
                                           "[TForm1]\r\ncancelButton.Caption=&Cancel\r\n\r\n"));
        QCOMPARE(readFile(installed), installedContent);

        // A user without a file of their own gets one with the missing texts alone.
        const QString fresh = dir.path() + QStringLiteral("/other/Languages/English.ini");
        {
            TStringLoader loader(fresh, installed);
            QCOMPARE(LoadLangString(910, QStringLiteral("Warning")), QStringLiteral("Avís"));
            QCOMPARE(LoadLangString(930, QStringLiteral("date")), QStringLiteral("date"));
        }
        QCOMPARE(readFile(fresh), QByteArray("[global]\r\n930=date\r\n\r\n"));
    }

    void unavailableFileGivesBuiltInTexts()
    {
        QTemporaryDir dir;
        const QString blocker = dir.path() + QStringLiteral("/file");
        writeFile(blocker, "x");
        TStringLoader loader(blocker + QStringLiteral("/Languages/English.ini"));
        QVERIFY(loader.unavailable());
        QCOMPARE(LoadLangString(900, QStringLiteral("Info")), QStringLiteral("Info"));
    }

    // A file that cannot be written (left read-only by another user, its folder gone)
    // is told of once; every look-up still answers, with the built-in text.
    void failedWriteBackIsToldOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/English.ini");
        TStringLoader loader(path);
        QStringList warnings;
        loader.setWriteWarning([&warnings](const QString &text) { warnings << text; });
        QVERIFY(QFile::remove(dir.path()) || QDir(dir.path()).removeRecursively());
        QString text;
        QCOMPARE(errorOf([&text] { text = LoadLangString(900, QStringLiteral("Info")); }),
                 QString());
        QCOMPARE(text, QStringLiteral("Info"));
        QCOMPARE(LoadLangString(910, QStringLiteral("Warning")), QStringLiteral("Warning"));
        QCOMPARE(loader.componentText(QStringLiteral("TForm1"), QStringLiteral("okButton"),
                                      QStringLiteral("Caption"), QStringLiteral("&OK")),
                 QStringLiteral("&OK"));
        QCOMPARE(LoadLangString(900, QStringLiteral("Info")), QStringLiteral("Info"));
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings[0].contains(path), qPrintable(warnings[0]));
    }

    void lookupsFromManyThreads()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/English.ini");
        TStringLoader loader(path);
        QList<QThread *> threads;
        for (int t = 0; t < 4; ++t) {
            threads << QThread::create([t] {
                for (int i = 0; i < 50; ++i)
                    LoadLangString(t * 1000 + i, QStringLiteral("text %1").arg(t * 1000 + i));
            });
            threads.last()->start();
        }
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(30000));
            delete thread;
        }
        const IniFile written = IniFile::parse(readFile(path));
        for (int t = 0; t < 4; ++t) {
            for (int i = 0; i < 50; ++i)
                QCOMPARE(written.value("global", QByteArray::number(t * 1000 + i)),
                         QStringLiteral("text %1").arg(t * 1000 + i).toUtf8());
        }
    }

    void safeFormat_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("error");
        QTest::newRow("texts") << "%s,%s"
                               << "a,b"
                               << "";
        QTest::newRow("fewer placeholders") << "only %s"
                                            << "only a"
                                            << "";
        QTest::newRow("number where text goes") << "%d %s"
                                                << ""
                                                << "%d needs a whole number but is given a text";
        QTest::newRow("one too many") << "%s %s %s %s"
                                      << ""
                                      << "more placeholders than values";
        QTest::newRow("unsupported") << "%n"
                                     << ""
                                     << "only %s, %d, %x, %.0n and %% may follow";
        QTest::newRow("printf bait") << "%s%p%n"
                                     << ""
                                     << "only %s";
        QTest::newRow("lone percent at end") << "50%"
                                             << ""
                                             << "only %s";
    }
    void safeFormat()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, result);
        QFETCH(QString, error);
        QString formatted;
        const QString message = errorOf([&] {
            formatted = qb::format(pattern, {QStringLiteral("a"), QStringLiteral("b")});
        });
        if (error.isEmpty()) {
            QCOMPARE(formatted, result);
        } else {
            QVERIFY2(message.contains(error), qPrintable(message));
            QVERIFY(message.contains(pattern));
        }
    }

    void numberFormat()
    {
        QCOMPARE(qb::format(QStringLiteral("%d%% of %s"), {qint64(42), QStringLiteral("a")}),
                 QStringLiteral("42% of a"));
        QCOMPARE(qb::format(QStringLiteral("%x"), {qint64(42)}), QStringLiteral("2A"));
        QCOMPARE(qb::format(QStringLiteral("%.0nKB"), {2.5}, QLocale(QLocale::English)),
                 QStringLiteral("3KB"));
        QCOMPARE(qb::format(QStringLiteral("%.0n"), {qint64(1234567)}, QLocale(QLocale::English)),
                 QStringLiteral("1,234,567"));
    }
};

QTEST_GUILESS_MAIN(TestLang)
#include "test_lang.moc"
