#include "lang/TStringLoader.h"
#include "ui/RelinkWindow.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
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

const QByteArray sampleLog = "Quillbrook Log File\r\n\r\ndate,time,level,message\r\n"
                             "2024-07-14,09:05:31,Info,Log file started\r\n"
                             "2024-07-14,09:05:31,Info,Quillbrook\r\n"
                             "2024-07-14,09:05:31,Info,Job started by [ann]\r\n"
                             "2024-07-14,09:05:31,Info,Detaching document [a.pdf] of email "
                             "[Inbox\\x] to file:///home/ann/Saved/Inbox/x.pdf\r\n"
                             "2024-07-14,09:05:31,Info,Copying document [b.zip] of email "
                             "[Inbox\\Old\\y] to file:///home/ann/Saved/Inbox/Old/y.zip\r\n"
                             "2024-07-14,09:05:32,Info,Detaching document [c.txt] of email "
                             "[Inbox\\z] to file:///home/ann/Saved/z.txt\r\n";

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

// Closes the next message box, keeping its text.
void closeNextBox(QString *text)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, text] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        *text = box->text();
        poll->deleteLater();
        box->accept();
    });
    poll->start(20);
}

} // namespace

class TestRelinkWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    // The question names the chosen log and how many saved files it records, in the
    // language file's words, and Cancel (also the default button) changes nothing.
    void asksInTheLanguageFilesWords()
    {
        const QString log = m_dir.path() + QStringLiteral("/actions.log");
        writeFile(log, sampleLog);
        const QString languageFile = m_dir.path() + QStringLiteral("/English.ini");
        writeFile(languageFile, "[TRelinkForm]\nTRelinkForm.Caption=Verkn\xc3\xbcpfen\n"
                                "QuestionLabel.Caption=%s: %d Dateien\n"
                                "RelinkButton.Caption=Neu verkn\xc3\xbcpfen\n");
        TStringLoader loader(languageFile);
        RelinkWindow window(&loader, nullptr);
        QCOMPARE(window.windowTitle(), QStringLiteral("Verknüpfen"));
        QString asked;
        bool cancelIsDefault = false;
        QString relinkCaption;
        answerModals({[&](QWidget *modal) {
            asked = modal->findChild<QLabel *>(QStringLiteral("QuestionLabel"))->text();
            relinkCaption = modal->findChild<QPushButton *>(QStringLiteral("RelinkButton"))->text();
            auto *cancel = modal->findChild<QPushButton *>(QStringLiteral("CancelButton"));
            cancelIsDefault = cancel->isDefault();
            cancel->click();
        }});
        QVERIFY(!window.confirm(log));
        QCOMPARE(asked, QStringLiteral("%1: 3 Dateien").arg(log));
        QCOMPARE(relinkCaption, QStringLiteral("Neu verknüpfen"));
        QVERIFY(cancelIsDefault);
    }

    // The old folder starts as the one that holds every saved file; a new folder that is
    // not there is refused and the window stays; the files under the old folder are taken.
    void relinkTakesTheFilesUnderTheOldFolder()
    {
        const QString log = m_dir.path() + QStringLiteral("/actions.log");
        writeFile(log, sampleLog);
        RelinkWindow window(nullptr, nullptr);
        QString guessed;
        QString refusal;
        answerModals({[&](QWidget *modal) {
            auto *from = modal->findChild<QLineEdit *>(QStringLiteral("FromFolder"));
            auto *to = modal->findChild<QLineEdit *>(QStringLiteral("ToFolder"));
            auto *relink = modal->findChild<QPushButton *>(QStringLiteral("RelinkButton"));
            guessed = from->text();
            // The manual's picture of the window, when asked for.
            if (!qEnvironmentVariableIsEmpty("QB_SHOT"))
                modal->grab().save(qEnvironmentVariable("QB_SHOT"));
            from->setText(QStringLiteral("/home/ann/Saved/Inbox/"));
            to->setText(m_dir.path() + QStringLiteral("/not-there"));
            closeNextBox(&refusal);
            relink->click();
            QVERIFY(modal->isVisible());
            to->setText(m_dir.path());
            relink->click();
        }});
        const auto chosen = window.confirm(log);
        QCOMPARE(guessed, QStringLiteral("/home/ann/Saved"));
        QVERIFY2(refusal.contains(QStringLiteral("not-there")), qPrintable(refusal));
        QVERIFY(chosen);
        QCOMPARE(chosen->logFile, log);
        QCOMPARE(chosen->from, QStringLiteral("/home/ann/Saved/Inbox"));
        QCOMPARE(chosen->to, m_dir.path());
        QCOMPARE(chosen->records.size(), size_t(2));
        QCOMPARE(chosen->records[1].filename, QStringLiteral("b.zip"));
        QVERIFY(!chosen->records[1].detached);
    }

    // A file that is no action log, or one without saved files, is said so; nothing runs.
    void aFileWithoutSavedFilesIsSaidSo_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("said");
        QTest::newRow("not a log")
            << QByteArray("a,b,c\n") << QStringLiteral("is not an action log");
        QTest::newRow("no saved file") << QByteArray("Quillbrook Log File\r\n\r\nd,t,l,m\r\n"
                                                     "2024-07-14,09:05:31,Info,End of job\r\n")
                                       << QStringLiteral("records no saved file");
    }

    void aFileWithoutSavedFilesIsSaidSo()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, said);
        const QString file =
            m_dir.path() + QLatin1Char('/') + QLatin1String(QTest::currentDataTag()) + ".log";
        writeFile(file, content);
        RelinkWindow window(nullptr, nullptr);
        QString message;
        closeNextBox(&message);
        QVERIFY(!window.confirm(file));
        QVERIFY2(message.contains(said), qPrintable(message));
    }
};

QTEST_MAIN(TestRelinkWindow)
#include "test_relink_window.moc"
