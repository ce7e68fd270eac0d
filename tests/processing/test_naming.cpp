#include "common/AutomationDate.h"
#include "common/Error.h"
#include "mailstore/TAttach.h"
#include "processing/SaveNaming.h"
#include "processing/SavedFilePlacer.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

TAttach record(const QString &subject, const QString &folder = QStringLiteral("Inbox\\"),
               const QString &filename = QStringLiteral("a.pdf"))
{
    return TAttach{subject,  QStringLiteral("From"),   folder,  1,
                   filename, attachmentType(filename), 45000.5, QStringLiteral("id"),
                   1,        QStringLiteral("store")};
}

} // namespace

class TestNaming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void saveFileName_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QString>("name");
        QTest::newRow("example") << "Q3 figures: final rev 2.1"
                                 << "x.xls"
                                 << "Q3 figures  final rev 2,1.xls";
        QTest::newRow("empty subject") << ""
                                       << "x.pdf"
                                       << "blank.pdf";
        QTest::newRow("only reserved") << " :*? "
                                       << "x.pdf"
                                       << "blank.pdf";
        QTest::newRow("cut at 40 after trimming")
            << "  0123456789012345678901234567890123456789TAIL"
            << "x.pdf"
            << "0123456789012345678901234567890123456789.pdf";
        QTest::newRow("cut never splits a character")
            << QString(39, QLatin1Char('a')) + QStringLiteral("\U0001F600b") << "x.pdf"
            << QString(39, QLatin1Char('a')) + QStringLiteral("\U0001F600.pdf");
        QTest::newRow("no type") << "Notes"
                                 << "README"
                                 << "Notes.";
        QTest::newRow("type from the sender is made safe") << "S"
                                                           << "x.a/b"
                                                           << "S.a b";
        QTest::newRow("type that climbs") << "S"
                                          << "x./../"
                                          << "S.";
    }
    void saveFileName()
    {
        QFETCH(QString, subject);
        QFETCH(QString, filename);
        QFETCH(QString, name);
        QCOMPARE(SaveFileName(record(subject, QStringLiteral("Inbox\\"), filename)), name);
    }

    void destinationStaysInsideTheFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << "Inbox\\Projects\\"
                               << "/save/Inbox/Projects/S.pdf";
        QTest::newRow("dot dot") << "Inbox\\..\\..\\"
                                 << "/save/Inbox/,,/,,/S.pdf";
        QTest::newRow("slash in a name") << "Inbox\\a/b\\"
                                         << "/save/Inbox/a b/S.pdf";
        QTest::newRow("empty level") << "Email Folders\\\\x\\"
                                     << "/save/Email Folders/blank/x/S.pdf";
        QTest::newRow("leading dot") << ".hidden\\"
                                     << "/save/,hidden/S.pdf";
    }
    void destinationStaysInsideTheFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, path);
        QCOMPARE(destinationPath(QStringLiteral("/save/"), record(QStringLiteral("S"), folder)),
                 path);
    }

    void uniquePaths()
    {
        SavedFileList saved;
        QCOMPARE(UniquePath(QStringLiteral("/d/name.pdf"), saved), QStringLiteral("/d/name.pdf"));
        saved.add(QStringLiteral("/d/name.pdf"));
        QCOMPARE(UniquePath(QStringLiteral("/d/NAME.PDF"), saved), QStringLiteral("/d/NAME_2.PDF"));
        saved.add(QStringLiteral("/d/name_2.pdf"));
        QCOMPARE(UniquePath(QStringLiteral("/d/name.pdf"), saved), QStringLiteral("/d/name_3.pdf"));
        saved.add(QStringLiteral("/d.x/Notes."));
        QCOMPARE(UniquePath(QStringLiteral("/d.x/Notes."), saved), QStringLiteral("/d.x/Notes_2."));
        QCOMPARE(numberedPath(QStringLiteral("/d.x/README"), 2), QStringLiteral("/d.x/README_2"));
    }

    void fileLinks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("link");
        QTest::newRow("spaces and comma")
            << "/Saved/Inbox/Q3 figures  final rev 2,1.xls"
            << "file:///Saved/Inbox/Q3%20figures%20%20final%20rev%202,1.xls";
        QTest::newRow("accented letter as UTF-8") << "/é"
                                                  << "file:///%C3%A9";
        QTest::newRow("tab with two digits") << "/a\tb"
                                             << "file:///a%09b";
        // A link names exactly the saved file: no fragment, no query, no escape of its own.
        QTest::newRow("fragment, query and percent escaped")
            << "/Invoice #1234?x%d:e"
            << "file:///Invoice%20%231234%3Fx%25d:e";
        QTest::newRow("escapes in a name stay the name's")
            << "/s/%2e%2e%2f%2e%2e%2fsecret.pdf"
            << "file:///s/%252e%252e%252f%252e%252e%252fsecret.pdf";
        QTest::newRow("delete character") << "/a\x7f"
                                          << "file:///a%7F";
    }
    void fileLinks()
    {
        QFETCH(QString, path);
        QFETCH(QString, link);
        QCOMPARE(FileLink(path), link);
    }

    void notes()
    {
        QCOMPARE(bodyNote(false, true, QStringLiteral("a.pdf"), QString()),
                 QStringLiteral("\r\nAttached file a.pdf deleted (not saved)\r\n"));
        QCOMPARE(bodyNote(true, false, QStringLiteral("a.pdf"), QStringLiteral("file:///x")),
                 QStringLiteral("\r\nAttached file a.pdf copied to file:///x\r\n"));
        QCOMPARE(bodyNote(true, true, QStringLiteral("%1.pdf"), QStringLiteral("file:///x")),
                 QStringLiteral("\r\nAttached file %1.pdf detached and saved as file:///x\r\n"));
    }

    void fileTimes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f"));
        writing("x")(path);
        const QDateTime received(QDate(2021, 3, 4), QTime(5, 6, 7));
        SetFileTimes(path, qb::toAutomationDate(received));
        QCOMPARE(QFileInfo(path).lastModified(), received);
        QCOMPARE(QFileInfo(path).lastRead(), received);
        SetFileTimes(dir.filePath(QStringLiteral("missing")), 0); // ignored
    }

    void placingNeverReplacesOtherContent()
    {
        QTemporaryDir dir;
        const QString wanted = dir.path() + QStringLiteral("/Inbox/report.pdf");
        SavedFileList firstJob;
        SavedFilePlacer first(firstJob);
        QCOMPARE(first.place(dir.path(), wanted, writing("first")).path, wanted);
        QCOMPARE(first.place(dir.path(), wanted, writing("first")).path,
                 dir.path() + QStringLiteral("/Inbox/report_2.pdf")); // same job: a new name

        SavedFileList laterJob;
        // The same attachment saved again lands where it did; other content never replaces it.
        QCOMPARE(SavedFilePlacer(laterJob).place(dir.path(), wanted, writing("first")).path,
                 wanted);
        SavedFileList thirdJob;
        const QString other =
            SavedFilePlacer(thirdJob).place(dir.path(), wanted, writing("second")).path;
        QCOMPARE(other, dir.path() + QStringLiteral("/Inbox/report_3.pdf"));
        QCOMPARE(readFile(wanted), QByteArray("first"));
        QCOMPARE(readFile(other), QByteArray("second"));
        QCOMPARE(QDir(dir.path() + QStringLiteral("/Inbox"))
                     .entryList(QDir::Files | QDir::Hidden)
                     .size(),
                 3);
    }

    void failedWriteLeavesNothing()
    {
        QTemporaryDir dir;
        SavedFileList saved;
        const QString wanted = dir.path() + QStringLiteral("/x/report.pdf");
        SavedFilePlacer placer(saved);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 placer.place(dir.path(), wanted, [](const QString &path) {
                                     writing("partial")(path);
                                     throw std::runtime_error("disk full");
                                 }));
        QVERIFY(QDir(dir.path() + QStringLiteral("/x"))
                    .entryList(QDir::Files | QDir::Hidden)
                    .isEmpty());
        QVERIFY(!saved.contains(wanted));

        QFile blocker(dir.path() + QStringLiteral("/file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QVERIFY_THROWS_EXCEPTION(
            qb::Error,
            placer.place(dir.path(), blocker.fileName() + QStringLiteral("/a.pdf"), writing("x")));
    }
};

QTEST_GUILESS_MAIN(TestNaming)
#include "test_naming.moc"
