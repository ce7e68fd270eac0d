#include "mailstore/maildir/MaildirStore.h"
#include "processing/UndoIndex.h"
#include "processing/UndoRecord.h"
#include "support/BoxWatcher.h"
#include "support/SmallMaildir.h"
#include "ui/DestinationFolderWindow.h"
#include "ui/JobHistoryWindow.h"
#include "ui/MainWindow.h"
#include "ui/StatusWindow.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <memory>

#include <gmime/gmime.h>

namespace {

// The SHA-256 of the Maildir's emails, whatever their file names: a rewrite takes a new
// name, and putting back must bring the bytes back.
QByteArray contentDigest(const QString &root)
{
    QList<QByteArray> digests;
    QDirIterator files(root, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (!path.contains(QLatin1String("/cur/")) && !path.contains(QLatin1String("/new/")))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        digests << QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }
    std::sort(digests.begin(), digests.end());
    return QCryptographicHash::hash(digests.join(), QCryptographicHash::Sha256).toHex();
}

// Runs each answer on the modal windows as they come to the front, in turn (a window
// that comes back to the front after a window over it closed counts again).
void answerModals(std::vector<std::function<void(QWidget *)>> answers)
{
    auto pending =
        std::make_shared<std::vector<std::function<void(QWidget *)>>>(std::move(answers));
    auto *poll = new QTimer;
    auto seen = std::make_shared<QPointer<QWidget>>();
    QObject::connect(poll, &QTimer::timeout, [poll, pending, seen] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == *seen || !modal->isVisible())
            return;
        *seen = modal;
        const auto answer = pending->front();
        pending->erase(pending->begin());
        if (pending->empty())
            poll->deleteLater();
        answer(modal);
    });
    poll->start(10);
}

// A click that opens a modal window comes after the answer that makes it returns.
void clickLater(QPushButton *button)
{
    QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
}

void answer(QWidget *modal, QMessageBox::StandardButton which)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    QVERIFY(box);
    box->button(which)->click();
}

void closeStatusWindows(MainWindow &window)
{
    for (StatusWindow *status : window.findChildren<StatusWindow *>())
        status->close();
    QTRY_VERIFY(window.findChildren<StatusWindow *>().isEmpty());
}

// Detaches every attachment of the Maildir into out, as the user does.
void detachAll(MainWindow &window, const QString &out)
{
    window.analyseButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
    window.selectAll();
    answerModals({[&](QWidget *modal) {
        auto *chooser = qobject_cast<DestinationFolderWindow *>(modal);
        QVERIFY(chooser);
        chooser->folderField->setText(out);
        chooser->accept();
    }});
    window.detachAttachmentsClick();
    QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
    closeStatusWindows(window);
}

} // namespace

class TestJobHistory : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase()
    {
        // Settings and the list of records of this run alone.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("config"))));
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("state"))));
        g_mime_init();
    }

    // Edit > Undo asks first; No changes nothing, Yes puts the last job's emails back
    // byte for byte; then nothing is left to undo, and it says so.
    void undoPutsTheLastJobBack()
    {
        QTemporaryDir dir;
        const QString root = dir.filePath(QStringLiteral("Mail"));
        const QString out = dir.filePath(QStringLiteral("saved"));
        QVERIFY(makeMaildir(root, 3));
        const QByteArray before = contentDigest(root);
        MainWindow window(maildir::storeFactory({root}));
        window.show();
        detachAll(window, out);
        const QByteArray detached = contentDigest(root);
        QVERIFY(detached != before);

        answerModals({[](QWidget *modal) { answer(modal, QMessageBox::No); }});
        window.undoAction->trigger();
        QVERIFY(!window.workerRunning());
        QCOMPARE(contentDigest(root), detached);

        QString asked;
        answerModals({[&](QWidget *modal) {
            asked = qobject_cast<QMessageBox *>(modal)->text();
            answer(modal, QMessageBox::Yes);
        }});
        window.undoAction->trigger();
        QVERIFY(!window.undoAction->isEnabled()); // while it runs
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        QVERIFY2(asked.contains(out), qPrintable(asked));
        QCOMPARE(contentDigest(root), before);
        QVERIFY(window.undoAction->isEnabled());
        closeStatusWindows(window);

        BoxWatcher boxes;
        window.undoAction->trigger();
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(!window.workerRunning());
        QCOMPARE(contentDigest(root), before);
    }

    // A record found in a folder the user opens, beside one that cannot be read, is listed
    // and put back from the history window.
    void historyPutsBackAJobFoundInAFolder()
    {
        QTemporaryDir dir;
        const QString root = dir.filePath(QStringLiteral("Mail"));
        const QString out = dir.filePath(QStringLiteral("saved"));
        QVERIFY(makeMaildir(root, 2));
        const QByteArray before = contentDigest(root);
        MainWindow window(maildir::storeFactory({root}));
        window.show();
        detachAll(window, out);
        QVERIFY(contentDigest(root) != before);
        // Known only by its folder now, as when the folder was moved or the job ran elsewhere.
        QVERIFY(QFile::remove(undo::indexPath()));
        {
            QFile broken(undo::recordPathOf(out, QStringLiteral("broken")));
            QVERIFY(broken.open(QIODevice::WriteOnly));
            broken.write("not a record\n");
        }

        int listedFirst = -1;
        int listedAfter = -1;
        bool brokenDisabled = false;
        answerModals({
            [&](QWidget *modal) {
                auto *history = qobject_cast<JobHistoryWindow *>(modal);
                QVERIFY(history);
                listedFirst = history->jobList->topLevelItemCount();
                clickLater(history->openFolderButton);
            },
            [&](QWidget *modal) {
                auto *chooser = qobject_cast<QFileDialog *>(modal);
                QVERIFY(chooser);
                chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(out);
                static_cast<QDialog *>(chooser)->accept();
            },
            [&](QWidget *modal) {
                auto *history = qobject_cast<JobHistoryWindow *>(modal);
                QVERIFY(history);
                listedAfter = history->jobList->topLevelItemCount();
                for (int row = 0; row < listedAfter; ++row) {
                    QTreeWidgetItem *item = history->jobList->topLevelItem(row);
                    if (item->flags() == Qt::NoItemFlags)
                        brokenDisabled = true;
                    else
                        history->jobList->setCurrentItem(item);
                }
                QVERIFY(history->putBackButton->isEnabled());
                clickLater(history->putBackButton);
            },
            [](QWidget *modal) { answer(modal, QMessageBox::Yes); },
        });
        window.jobHistoryAction->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!window.workerRunning(), 10000);
        QCOMPARE(listedFirst, 0);
        QCOMPARE(listedAfter, 2);
        QVERIFY(brokenDisabled);
        QCOMPARE(contentDigest(root), before);
    }
};

QTEST_MAIN(TestJobHistory)
#include "test_job_history.moc"
