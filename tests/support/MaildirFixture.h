#pragma once

#include "mailstore/AttachmentList.h"
#include "mailstore/maildir/MaildirStore.h"
#include "mailstore/mime/ParsedEmail.h"
#include "processing/RecordingHost.h"
#include "processing/TAnalyseThread.h"
#include "processing/TEmailThread.h"
#include "settings/TSettings.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// The names of an email's attachments, as the analysis lists them.
inline QStringList attachmentNamesIn(const QByteArray &email)
{
    const mime::ParsedEmail parsed(email);
    QStringList names;
    for (const auto &part : parsed.attachments())
        names << part.filename;
    return names;
}

// A real Maildir in a temporary folder, analysed and changed by the real workers.
struct MaildirFixture
{
    QTemporaryDir dir;
    QString root = dir.path() + QStringLiteral("/Mail");
    QString out = dir.path() + QStringLiteral("/out");
    RecordingHost host;
    int lockTimeout = TEmailThread::defaultLockTimeout;
    int readers = TAnalyseThread::defaultReaders();
    QString summaryCache;    // where analyses keep what they read; none when empty
    QStringList unreadable;  // what the last analysis could not read or left out
    bool wholeStore = false; // analyse the store's top folder, not the Inbox

    MaildirFixture()
    {
        for (const char *sub : {"cur", "new", "tmp"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    }

    QString add(const QString &relative, const QByteArray &content, mode_t mode = 0600)
    {
        const QString path = root + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return {};
        file.close();
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    }

    TEmailThread::Records analyse()
    {
        AttachmentList list;
        auto *settings = new TSettings;
        settings->getFromDefaultFolder = !wholeStore;
        if (wholeStore) {
            settings->fromFolderName = QStringLiteral("Email Folders\\Mail");
            settings->fromFolderEntryId = maildir::storeFactory({root})()
                                              ->getNamespace(QStringLiteral("MAPI"))
                                              ->folders()
                                              ->item(1)
                                              ->entryId();
        }
        auto *analysis = new TAnalyseThread(
            settings, nullptr, &host, maildir::storeFactory({root}, summaryCache), &list, readers);
        QObject::connect(analysis, &TAnalyseThread::analysisEnded, analysis,
                         [this](const QStringList &lines) { unreadable = lines; });
        QSignalSpy analysed(analysis, &QObject::destroyed);
        if (!analysed.wait(600000))
            return {};
        TEmailThread::Records records;
        for (int i = 0; i < list.count(); ++i)
            records.push_back(list.record(i));
        return records;
    }

    // Runs a job on the records; logFile empty: no log.
    TEmailThread::Result run(const TEmailThread::Records &records, bool deleting, bool saving,
                             const QString &logFile = QString())
    {
        auto *settings = new TSettings;
        settings->saveFolder = out;
        settings->logToFile = !logFile.isEmpty();
        settings->logFilename = logFile;
        TEmailThread::Result result;
        RecordingStatusWindow window(&host);
        auto *job = new TEmailThread(
            settings, &window, &host, maildir::storeFactory({root}, summaryCache),
            [records] { return records; }, deleting, saving, lockTimeout);
        QObject::connect(job, &TEmailThread::jobEnded, job,
                         [&](TEmailThread::Result r) { result = r; });
        QSignalSpy done(job, &QObject::destroyed);
        done.wait(600000); // the job refers to this fixture until it is gone
        return result;
    }

    QStringList files(const QString &sub = QStringLiteral("cur")) const
    {
        return QDir(root + QLatin1Char('/') + sub).entryList(QDir::Files | QDir::Hidden);
    }

    // The one email file in cur/, read whole; empty when there is not exactly one.
    QByteArray only() const
    {
        const QStringList all = files();
        if (all.size() != 1)
            return {};
        QFile file(root + QStringLiteral("/cur/") + all.first());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};
