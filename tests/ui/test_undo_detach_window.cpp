#include "lang/TStringLoader.h"
#include "ui/UndoDetachWindow.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

const QByteArray sampleLog =
    "Quillbrook Log File\r\n\r\ndate,time,level,message,sha256,content type\r\n"
    "2024-07-14,09:05:31,Info,Log file started,,\r\n"
    "2024-07-14,09:05:31,Info,Quillbrook,,\r\n"
    "2024-07-14,09:05:31,Info,Job started by [ann],,\r\n"
    "2024-07-14,09:05:31,Info,Detaching document [a.pdf] of email "
    "[Inbox\\x] to file:///s/Inbox/x.pdf," +
    QByteArray(64, 'a') +
    ",application/pdf\r\n"
    "2024-07-14,09:05:31,Info,Detaching document [b.zip] of email "
    "[Inbox\\y] to file:///s/Inbox/y.zip," +
    QByteArray(64, 'b') + ",application/zip\r\n";

// Runs answer on each modal window as it opens, in turn, while the window under test waits.
void answerModals(std::vector<std::function<void(QWidget *)>> answers)
{
    auto pending =
        std::make_shared<std::vector<std::function<void(QWidget *)>>>(std::move(answers));
    auto *poll = new QTimer;
    auto seen = std::make_shared<QWidget *>(nullptr);
    QObject::connect(poll, &QTimer::timeout, [poll, pending, seen] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == *seen)
            return;
        *seen = modal;
        const auto answer = pending->front();
        pending->erase(pending->begin());
        if (pending->empty())
            poll->deleteLater();
        answer(modal);
    });
    poll->start(20);
}

} // namespace

class TestUndoDetachWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    // The question says how many attachments the chosen log records and which log it
    // is, in the language file's words, and Cancel (also the default button) changes nothing.
    void asksInTheLanguageFilesWords()
    {
        const QString log = m_dir.path() + QStringLiteral("/actions.log");
        writeFile(log, sampleLog);
        const QString languageFile = m_dir.path() + QStringLiteral("/English.ini");
        writeFile(languageFile, "[TUndoDetachForm]\nTUndoDetachForm.Caption=R\xc3\xbc"
                                "ckg\xc3\xa4ngig\nQuestionLabel.Caption=%d aus %s "
                                "zur\xc3\xbc"
                                "cklegen?\nPutBackButton.Caption=Zur\xc3\xbc"
                                "cklegen\n");
        TStringLoader loader(languageFile);
        UndoDetachWindow window(&loader, nullptr);
        QCOMPARE(window.windowTitle(), QStringLiteral("Rückgängig"));
        QString asked;
        bool cancelIsDefault = false;
        answerModals({[&](QWidget *modal) {
            asked = modal->findChild<QLabel *>(QStringLiteral("QuestionLabel"))->text();
            auto *cancel = modal->findChild<QPushButton *>(QStringLiteral("CancelButton"));
            cancelIsDefault = cancel->isDefault();
            QCOMPARE(modal->findChild<QPushButton *>(QStringLiteral("PutBackButton"))->text(),
                     QStringLiteral("Zurücklegen"));
            cancel->click();
        }});
        QVERIFY(!window.confirm(log));
        QCOMPARE(asked, QStringLiteral("2 aus %1 zurücklegen?").arg(log));
        QVERIFY(cancelIsDefault);
    }

    void putBackReturnsTheLogsDetaches()
    {
        const QString log = m_dir.path() + QStringLiteral("/actions.log");
        writeFile(log, sampleLog);
        UndoDetachWindow window(nullptr, nullptr);
        QString asked;
        answerModals({[&](QWidget *modal) {
            asked = modal->findChild<QLabel *>(QStringLiteral("QuestionLabel"))->text();
            // The manual's picture of the window, when asked for.
            if (!qEnvironmentVariableIsEmpty("QB_SHOT"))
                modal->grab().save(qEnvironmentVariable("QB_SHOT"));
            modal->findChild<QPushButton *>(QStringLiteral("PutBackButton"))->click();
        }});
        const auto chosen = window.confirm(log);
        QVERIFY2(asked.startsWith(
                     QStringLiteral("Put back 2 detached attachment(s) that %1 records").arg(log)),
                 qPrintable(asked));
        QVERIFY(chosen);
        QCOMPARE(chosen->logFile, log);
        QCOMPARE(chosen->records.size(), size_t(2));
        QCOMPARE(chosen->records[1].filename, QStringLiteral("b.zip"));
        QCOMPARE(chosen->records[1].contentType, QStringLiteral("application/zip"));
    }

    // A file that is no action log, or one without detaches, is said so; nothing runs.
    void aFileWithoutDetachesIsSaidSo_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("said");
        QTest::newRow("not a log")
            << QByteArray("a,b,c\n") << QStringLiteral("is not an action log");
        QTest::newRow("no detach") << QByteArray("Quillbrook Log File\r\n\r\nd,t,l,m\r\n"
                                                 "2024-07-14,09:05:31,Info,End of job,,\r\n")
                                   << QStringLiteral("records no detached attachment");
    }

    void aFileWithoutDetachesIsSaidSo()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, said);
        const QString file =
            m_dir.path() + QLatin1Char('/') + QLatin1String(QTest::currentDataTag()) + ".log";
        writeFile(file, content);
        UndoDetachWindow window(nullptr, nullptr);
        QString message;
        answerModals({[&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            message = box->text();
            box->accept();
        }});
        QVERIFY(!window.confirm(file));
        QVERIFY2(message.contains(said), qPrintable(message));
    }
};

QTEST_MAIN(TestUndoDetachWindow)
#include "test_undo_detach_window.moc"
