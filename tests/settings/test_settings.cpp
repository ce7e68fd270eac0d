#include "common/Error.h"
#include "settings/TSettings.h"

#include <QTest>

class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void newSettingsAreEmpty()
    {
        const TSettings settings;
        QCOMPARE(settings.formatVersion, 0);
        QVERIFY(settings.fileName.isEmpty());
        QVERIFY(settings.saveFolder.isEmpty());
        QVERIFY(!settings.getFromDefaultFolder);
        QVERIFY(!settings.logToFile);
        QCOMPARE(settings.firstNumber, 0);
    }

    void valueNames_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("name");
        QTest::newRow("0") << 0 << "SOFTWARE\\Vellmor Software\\Quillbrook";
        QTest::newRow("1") << 1 << "Skarvell filter";
        QTest::newRow("2") << 2 << "Save folder";
        QTest::newRow("3") << 3 << "First number";
        QTest::newRow("4") << 4 << "Number format";
        QTest::newRow("5") << 5 << "Include subject";
        QTest::newRow("9") << 9 << "msgDestination";
        QTest::newRow("10") << 10 << "entryId";
        QTest::newRow("16") << 16 << "move messages";
        QTest::newRow("17") << 17 << "get from default folder";
        QTest::newRow("18") << 18 << "from folder name";
        QTest::newRow("19") << 19 << "from folder entry id";
        QTest::newRow("21") << 21 << "SOFTWARE\\Vellmor Software\\Quillbrook\\Recent files";
        QTest::newRow("22") << 22 << "log to file";
        QTest::newRow("23") << 23 << "log filename";
    }
    void valueNames()
    {
        QFETCH(int, key);
        QFETCH(QString, name);
        QCOMPARE(TSettings::valueName(key), name);
    }

    void unknownKeyIsAnError() { QVERIFY_THROWS_EXCEPTION(qb::Error, TSettings::valueName(6)); }

    void checks_data()
    {
        QTest::addColumn<bool>("defaultFolder");
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("saveFolder");
        QTest::addColumn<bool>("logToFile");
        QTest::addColumn<QString>("logFilename");
        QTest::addColumn<QString>("sourceError");
        QTest::addColumn<QString>("destinationError");
        QTest::newRow("default inbox, nothing else") << true << ""
                                                     << "" << false << ""
                                                     << ""
                                                     << "The folder to save resumes to is blank";
        QTest::newRow("chosen folder blank") << false << ""
                                             << "/tmp" << false << ""
                                             << "The folder to get emails from is blank"
                                             << "";
        QTest::newRow("save folder before log name") << false << "X"
                                                     << "" << true << ""
                                                     << ""
                                                     << "The folder to save resumes to is blank";
        QTest::newRow("blank log name") << false << "X"
                                        << "/tmp" << true << ""
                                        << ""
                                        << "The log filename is blank";
        QTest::newRow("all set") << false << "X"
                                 << "/tmp" << true << "log.csv"
                                 << ""
                                 << "";
    }
    void checks()
    {
        QFETCH(bool, defaultFolder);
        QFETCH(QString, folderName);
        QFETCH(QString, saveFolder);
        QFETCH(bool, logToFile);
        QFETCH(QString, logFilename);
        QFETCH(QString, sourceError);
        QFETCH(QString, destinationError);
        TSettings settings;
        settings.getFromDefaultFolder = defaultFolder;
        settings.fromFolderName = folderName;
        settings.saveFolder = saveFolder;
        settings.logToFile = logToFile;
        settings.logFilename = logFilename;
        auto messageOf = [](auto check) {
            try {
                check();
            } catch (const qb::Error &e) {
                return e.message();
            }
            return QString();
        };
        QCOMPARE(messageOf([&] { settings.checkSource(); }), sourceError);
        QCOMPARE(messageOf([&] { settings.checkDestination(); }), destinationError);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
