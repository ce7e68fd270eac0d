// The versions file, the stamp, the query's encoding, and the update date: when the
// automatic check is due and how the date is kept in the machine hive.
#include "common/AutomationDate.h"
#include "common/Version.h"
#include "settings/TRegistry.h"
#include "update/UpdateDate.h"
#include "update/Url.h"
#include "update/VersionsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using update::VersionCheck;
using Result = update::VersionCheck::Result;

namespace {

const QString product = QStringLiteral("Quillbrook");
constexpr double release = 37198.8708143519;

QString programKey()
{
    return QStringLiteral("SOFTWARE\\Vellmor Software\\Quillbrook");
}

} // namespace

class TestVersions : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path())); }
    void init() { QFile::remove(TRegistry::hivePath(TRegistry::Root::LocalMachine)); }

    void theReleaseComesFromTheBuild()
    {
        QCOMPARE(QLatin1String(qb::productName), product);
        QCOMPARE(QLatin1String(qb::versionText), QLatin1String("2.2"));
        QCOMPARE(qb::releaseStamp, release);
        QCOMPARE(QString::fromLatin1(qb::releaseStampText).toDouble(), qb::releaseStamp);
        // 3 November 2001, 20:53:58.
        QCOMPARE(qb::fromAutomationDate(qb::releaseStamp).toString(Qt::ISODate),
                 QStringLiteral("2001-11-03T20:53:58"));
    }

    void comparesTheProductsLine_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("value");
        QTest::newRow("the same release") << "Quillbrook,37198.8708143519\n"
                                          << int(Result::Current) << "37198.8708143519";
        QTest::newRow("an older release") << "Quillbrook,37000\n"
                                          << int(Result::Current) << "37000";
        QTest::newRow("a newer release")
            << "Quillbrook,37198.871" << int(Result::Newer) << "37198.871";
        QTest::newRow("notes after a comma") << "Quillbrook,37300.5,fixes the grid\r\n"
                                             << int(Result::Newer) << "37300.5,fixes the grid";
        QTest::newRow("a blank after the stamp") << "Quillbrook,37300.5 \n"
                                                 << int(Result::InvalidStamp) << "37300.5 ";
        QTest::newRow("blanks before the stamp") << "Quillbrook,  37300.5\n"
                                                 << int(Result::Newer) << "  37300.5";
        QTest::newRow("exponent") << "Quillbrook,3.73e4\n" << int(Result::Newer) << "3.73e4";
        QTest::newRow("signed") << "Quillbrook,-1\n" << int(Result::Current) << "-1";
        QTest::newRow("an empty stamp") << "Quillbrook,\n" << int(Result::InvalidStamp) << "";
        QTest::newRow("a date, not a number") << "Quillbrook,2001-11-03\n"
                                              << int(Result::InvalidStamp) << "2001-11-03";
        QTest::newRow("a decimal comma") << "Quillbrook,37300;5\n"
                                         << int(Result::InvalidStamp) << "37300;5";
        QTest::newRow("infinite") << "Quillbrook,1e999\n" << int(Result::InvalidStamp) << "1e999";
        QTest::newRow("not a number") << "Quillbrook,nan\n" << int(Result::InvalidStamp) << "nan";
        QTest::newRow("another letter case") << "quillbrook,40000\nQUILLBROOK,40000\n"
                                             << int(Result::NotFound) << "";
        QTest::newRow("blanks round the name") << " Quillbrook,40000\nQuillbrook ,40000\n"
                                               << int(Result::NotFound) << "";
        QTest::newRow("no product line") << "Tamberline,40000\nOther,1\n"
                                         << int(Result::NotFound) << "";
        QTest::newRow("an HTML error page")
            << "<html><body>404 Not Found</body></html>" << int(Result::NotFound) << "";
        QTest::newRow("lines without a comma are skipped")
            << "Quillbrook\nQuillbrook 40000\nQuillbrook,40000\n"
            << int(Result::Newer) << "40000";
        QTest::newRow("the first of two lines counts") << "Quillbrook,37000\nQuillbrook,40000\n"
                                                       << int(Result::Current) << "37000";
        QTest::newRow("CR alone between lines")
            << "Tamberline,1\rQuillbrook,40000\rOther,2" << int(Result::Newer) << "40000";
        QTest::newRow("LF alone") << "Tamberline,1\nQuillbrook,36000\nOther,2"
                                  << int(Result::Current) << "36000";
        QTest::newRow("CR LF") << "Tamberline,1\r\nQuillbrook,1e5\r\n"
                               << int(Result::Newer) << "1e5";
    }
    void comparesTheProductsLine()
    {
        QFETCH(QString, file);
        QFETCH(int, result);
        QFETCH(QString, value);
        const VersionCheck check = update::checkVersions(file, product, release);
        QCOMPARE(int(check.result), result);
        QCOMPARE(check.value, value);
    }

    void takesAtMost255CharactersOfTheLine()
    {
        const QString longNote = QString(400, QLatin1Char('x'));
        const VersionCheck check =
            update::checkVersions(QStringLiteral("Quillbrook,40000,") + longNote, product, release);
        QCOMPARE(check.result, Result::Newer);
        QCOMPARE(check.value.size(), 255);
        // The stamp is read from what was taken: "4e+05" cut to "4e" is no number.
        const VersionCheck cut =
            update::checkVersions(QStringLiteral("Quillbrook,") + QString(253, QLatin1Char(' ')) +
                                      QStringLiteral("4e+05"),
                                  product, release);
        QCOMPARE(cut.result, Result::InvalidStamp);
        QVERIFY(cut.value.endsWith(QLatin1String(" 4e")));
    }

    void encodesQueryValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("name") << "Quillbrook"
                              << "Quillbrook";
        QTest::newRow("version") << "2.2"
                                 << "2.2";
        QTest::newRow("blank") << "Quill brook"
                               << "Quill+brook";
        QTest::newRow("kept") << "a*b-c.d_e"
                              << "a*b-c.d_e";
        QTest::newRow("reserved") << "a/b&c=d+e?%"
                                  << "a%2Fb%26c%3Dd%2Be%3F%25";
        QTest::newRow("UTF-8 bytes") << QString::fromUtf8("é~") << "%C3%A9%7E";
        QTest::newRow("controls") << QStringLiteral("\r\n") << "%0D%0A";
    }
    void encodesQueryValues()
    {
        QFETCH(QString, text);
        QFETCH(QString, encoded);
        QCOMPARE(update::urlEncode(text), encoded);
    }

    void asksForTheVersionsFileOfThisRelease()
    {
        QCOMPARE(
            update::versionsFileUrl(QStringLiteral("https://www.vellmor.com/"), product,
                                    QStringLiteral("2.2")),
            QStringLiteral("https://www.vellmor.com/versions.txt?application=Quillbrook&ver=2.2"));
        QCOMPARE(update::versionsFileUrl(QStringLiteral("http://h:81"),
                                         QStringLiteral("Quill brook"), QStringLiteral("2.2 beta")),
                 QStringLiteral("http://h:81/versions.txt?application=Quill+brook&ver=2.2+beta"));
        QCOMPARE(update::homePageUrl(QStringLiteral("https://www.vellmor.com")),
                 QStringLiteral("https://www.vellmor.com/"));
    }

    void theCheckIsDueFromTheUpdateDateOn()
    {
        const QDate today(2024, 5, 10);
        const double todayNumber = update::dayNumber(today);
        QCOMPARE(todayNumber, 45422.0);
        QVERIFY(update::checkDue(0, today));
        QVERIFY(update::checkDue(todayNumber, today));
        QVERIFY(update::checkDue(todayNumber - 1, today));
        QVERIFY(!update::checkDue(todayNumber + 1, today));
        // A postponement to today keeps the picker's evening time: not due until tomorrow.
        QVERIFY(!update::checkDue(todayNumber + 0.92, today));
        QCOMPARE(update::dateAfterReply(today), todayNumber + 3);
        QCOMPARE(update::firstPickerDay(0, today), QDate(2024, 6, 9));
        QCOMPARE(update::firstPickerDay(todayNumber + 3.5, today), QDate(2024, 5, 13));
    }

    void readsNothingWithoutTheKey()
    {
        const update::UpdateSettings settings = update::UpdateSettings::read();
        QCOMPARE(settings.updateDate, 0.0);
        QCOMPARE(settings.webSite, QStringLiteral("https://www.vellmor.com"));
        // Reading does not create the key, or the hive.
        QVERIFY(!QFile::exists(TRegistry::hivePath(TRegistry::Root::LocalMachine)));
    }

    void writesTheDateRoundedWithTheProgramFolder()
    {
        // A postponement to 12 May 2024 carries 22:07:28: saved as the 13th.
        const double postponed =
            qb::toAutomationDate(QDateTime(QDate(2024, 5, 12), QTime(22, 7, 28)));
        QVERIFY(update::UpdateSettings::writeDate(postponed, QStringLiteral("/opt/quillbrook/")));
        TRegistry registry(TRegistry::Root::LocalMachine);
        QVERIFY(registry.OpenKey(programKey(), false));
        const auto date = registry.value(QStringLiteral("updateDate"));
        QVERIFY(date);
        QCOMPARE(date->type, RegistryValue::Type::Dword);
        QCOMPARE(date->number, quint32(update::dayNumber(QDate(2024, 5, 13))));
        QCOMPARE(registry.value(QStringLiteral("rootDir"))->text,
                 QStringLiteral("/opt/quillbrook/"));
        QCOMPARE(update::UpdateSettings::read().updateDate, update::dayNumber(QDate(2024, 5, 13)));
        // The user's hive is not touched.
        QVERIFY(!QFile::exists(TRegistry::hivePath(TRegistry::Root::CurrentUser)));
    }

    void readsTheWebSiteAndIgnoresValuesOfOtherTypes()
    {
        {
            TRegistry registry(TRegistry::Root::LocalMachine);
            QVERIFY(registry.OpenKey(programKey(), true));
            registry.WriteString(QStringLiteral("updateDate"), QStringLiteral("45000"));
            registry.WriteString(QStringLiteral("Web site"),
                                 QStringLiteral(" http://127.0.0.1:1/ "));
        }
        const update::UpdateSettings settings = update::UpdateSettings::read();
        QCOMPARE(settings.updateDate, 0.0);
        QCOMPARE(settings.webSite, QStringLiteral("http://127.0.0.1:1/"));
    }

    void aHiveThatCannotBeWrittenIsLeftAlone()
    {
        // A folder where the hive file should be: nothing can replace it, even as root.
        const QString hive = TRegistry::hivePath(TRegistry::Root::LocalMachine);
        QVERIFY(QDir().mkpath(hive));
        const auto restore = qScopeGuard([&] { QDir(hive).removeRecursively(); });
        QVERIFY(!update::UpdateSettings::writeDate(45000, QStringLiteral("/x/")));
        QVERIFY(QFileInfo(hive).isDir());
        QCOMPARE(update::UpdateSettings::read().updateDate, 0.0);
    }
};

QTEST_GUILESS_MAIN(TestVersions)
#include "test_versions.moc"
