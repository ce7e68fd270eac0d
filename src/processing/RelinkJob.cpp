#include "RelinkJob.h"

#include "SaveNaming.h"
#include "common/Error.h"
#include "log/TNullLog.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <iterator>

namespace {

bool endsWith(const QStringList &longer, const QStringList &shorter)
{
    if (shorter.isEmpty() || shorter.size() > longer.size())
        return false;
    return std::equal(shorter.begin(), shorter.end(), longer.end() - shorter.size());
}

// The folder labels a logged "folder label + subject" can start with, as folder names
// from the top: every text up to a "\" (a subject can hold one too).
QList<QStringList> labelsOf(const QString &where)
{
    QList<QStringList> labels;
    for (qsizetype at = where.indexOf(QLatin1Char('\\')); at >= 0;
         at = where.indexOf(QLatin1Char('\\'), at + 1))
        labels << where.left(at).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return labels;
}

// A label names the folder when one ends the other: analysis labels start at the
// folder it was started from ("Inbox\" for the default one), which the log does not name.
bool labelNames(const QList<QStringList> &labels, const QList<QStringList> &folderPaths)
{
    for (const QStringList &label : labels) {
        for (const QStringList &path : folderPaths) {
            if (endsWith(label, path) || endsWith(path, label))
                return true;
        }
    }
    return false;
}

// How many of body's notes link to link. A plain note's link ends its line; an HTML
// note's link is the value of its href. So a link that only begins another
// (".../Plan.doc" in ".../Plan.docx") or one written inside a line of text is no note.
qsizetype notesLinking(const QString &body, const QString &link)
{
    qsizetype notes = 0;
    for (qsizetype at = body.indexOf(link); at >= 0; at = body.indexOf(link, at + 1)) {
        const qsizetype end = at + link.size();
        if (end == body.size() || body[end] == QLatin1Char('\r') || body[end] == QLatin1Char('\n'))
            ++notes;
    }
    const QString href = QStringLiteral("href=\"") + link.toHtmlEscaped() + QLatin1Char('"');
    return notes + body.count(href);
}

// Whether the log's "folder label + subject" ends with this email's subject: the link
// alone would also find a reply that quotes the note.
bool subjectMatches(const QString &where, const QString &subject)
{
    return where.endsWith(QLatin1Char('\\') + subject);
}

QString folderWithSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

struct RelinkJob::Wanted
{
    DetachRecord record;
    QString filePath;  // where the file is now
    QStringList links; // what the email's note may link to: the logged link or the new one
    QList<QStringList> labels;
    bool found = false;
};

struct RelinkJob::EmailWork
{
    QString entryId;
    QString storeId;
    std::vector<std::pair<Wanted *, QString>> items; // with the link its note holds
};

RelinkJob::RelinkJob(QString from, QString to, TNullLog &log, Callbacks callbacks)
    : m_from(std::move(from)), m_to(std::move(to)), m_log(log), m_callbacks(std::move(callbacks))
{
}

std::vector<DetachRecord> RelinkJob::recordsUnder(const std::vector<DetachRecord> &records,
                                                  const QString &from)
{
    const QString prefix = folderWithSlash(from);
    std::vector<DetachRecord> under;
    std::copy_if(records.begin(), records.end(), std::back_inserter(under),
                 [&prefix](const DetachRecord &record) {
                     return pathOfLink(record.link).startsWith(prefix);
                 });
    return under;
}

QString RelinkJob::movedPath(const QString &path, const QString &from, const QString &to)
{
    if (from.isEmpty())
        return path;
    const QString prefix = folderWithSlash(from);
    if (!path.startsWith(prefix))
        return path;
    return folderWithSlash(to) + path.mid(prefix.size());
}

void RelinkJob::say(Kind kind, const QString &text)
{
    switch (kind) {
    case Kind::Done:
        ++m_report.done;
        break;
    case Kind::Refused:
        ++m_report.refused;
        m_log.Log(llError, text);
        break;
    case Kind::NotFound:
        ++m_report.notFound;
        m_log.Log(llWarning, text);
        break;
    }
    if (m_callbacks.outcome)
        m_callbacks.outcome(kind, text);
}

RelinkJob::Report RelinkJob::run(mailstore::Namespace &mapi,
                                 const std::vector<DetachRecord> &records)
{
    std::vector<Wanted> wanted;
    for (const DetachRecord &record : records) {
        Wanted each{record, {}, {record.link}, labelsOf(record.where), false};
        each.filePath = movedPath(pathOfLink(record.link), m_from, m_to);
        const QString movedLink = FileLink(each.filePath);
        if (!each.filePath.isEmpty() && movedLink != record.link)
            each.links << movedLink;
        wanted.push_back(each);
    }
    std::vector<EmailWork> emails = findEmails(mapi, wanted);
    for (EmailWork &work : emails) {
        if (m_callbacks.cancelled && m_callbacks.cancelled()) {
            m_report.cancelled = true;
            return m_report;
        }
        relink(mapi, work);
    }
    if (m_callbacks.cancelled && m_callbacks.cancelled())
        m_report.cancelled = true;
    if (m_report.cancelled)
        return m_report;
    for (const Wanted &each : wanted) {
        if (!each.found)
            say(Kind::NotFound,
                QStringLiteral("No email in the folder of [%1] links to %2 (relinked "
                               "before, or the email is gone)")
                    .arg(each.record.where, each.record.link));
    }
    return m_report;
}

std::vector<RelinkJob::EmailWork> RelinkJob::findEmails(mailstore::Namespace &mapi,
                                                        std::vector<Wanted> &wanted)
{
    std::vector<EmailWork> emails;
    QHash<QString, size_t> emailOf;
    QString inboxId;
    try {
        if (const auto inbox = mapi.getDefaultFolder(mailstore::DefaultInbox))
            inboxId = inbox->entryId();
    } catch (const qb::MailStoreError &) {
        // No default Inbox: labels are matched by folder names alone.
    }

    // Folder by folder from the top, each with its name path and, below the default
    // Inbox, the path an analysis of the Inbox labels it with.
    struct Pending
    {
        std::shared_ptr<mailstore::Folder> folder;
        QList<QStringList> paths;
    };
    std::vector<Pending> pending;
    const auto tops = mapi.folders();
    for (int i = tops->count(); i >= 1; --i)
        pending.push_back({tops->item(i), {}});
    while (!pending.empty()) {
        if (m_callbacks.cancelled && m_callbacks.cancelled())
            break;
        Pending current = std::move(pending.back());
        pending.pop_back();
        mailstore::Folder &folder = *current.folder;
        if (folder.defaultItemType() != mailstore::MailItemType)
            continue;
        const QString name = folder.name();
        QList<QStringList> paths;
        for (QStringList path : current.paths)
            paths << (path << name);
        if (current.paths.isEmpty())
            paths << QStringList{name};
        if (folder.entryId() == inboxId)
            paths << QStringList{QStringLiteral("Inbox")};
        const auto subfolders = folder.folders();
        for (int i = subfolders->count(); i >= 1; --i)
            pending.push_back({subfolders->item(i), paths});

        std::vector<Wanted *> here;
        for (Wanted &each : wanted) {
            if (!each.found && labelNames(each.labels, paths))
                here.push_back(&each);
        }
        if (here.empty())
            continue;
        if (m_callbacks.status)
            m_callbacks.status(QStringLiteral("Looking for the emails in %1...").arg(name));
        const auto items = folder.items();
        const int count = items->count();
        for (int i = 1; i <= count && !here.empty(); ++i) {
            if (m_callbacks.cancelled && m_callbacks.cancelled())
                break;
            std::shared_ptr<mailstore::Item> item;
            QString body;
            QString subject;
            try {
                item = items->item(i);
                body = item->body();
                subject = item->subject();
            } catch (const qb::MailStoreError &) {
                continue; // an email that cannot be read holds no note to find
            }
            for (auto each = here.begin(); each != here.end();) {
                QString linked;
                if (subjectMatches((*each)->record.where, subject)) {
                    for (const QString &link : (*each)->links) {
                        if (notesLinking(body, link) > 0) {
                            linked = link;
                            break;
                        }
                    }
                }
                if (linked.isEmpty()) {
                    ++each;
                    continue;
                }
                // The same file can be the attachment of several emails: each email
                // takes as many log entries as it holds notes linking to it.
                const QString key = folder.storeId() + QLatin1Char('\n') + item->entryId();
                auto known = emailOf.constFind(key);
                if (known == emailOf.cend()) {
                    known = emailOf.insert(key, emails.size());
                    emails.push_back({item->entryId(), folder.storeId(), {}});
                }
                EmailWork &work = emails[*known];
                const qsizetype taken =
                    std::count_if(work.items.begin(), work.items.end(),
                                  [&linked](const auto &entry) { return entry.second == linked; });
                if (taken >= notesLinking(body, linked)) {
                    ++each;
                    continue;
                }
                work.items.emplace_back(*each, linked);
                (*each)->found = true;
                each = here.erase(each);
            }
        }
    }
    return emails;
}

void RelinkJob::relink(mailstore::Namespace &mapi, EmailWork &work)
{
    std::shared_ptr<mailstore::Item> email;
    QString failure;
    try {
        email = mapi.getItemFromId(work.entryId, work.storeId);
        if (!email)
            failure = QStringLiteral("the email is no longer in the mail store");
        else
            failure = email->unchangeableReason();
    } catch (const std::exception &e) {
        failure = qb::messageOf(e);
    }
    std::vector<std::pair<Wanted *, QString>> changes;
    for (const auto &[each, link] : work.items) {
        const QString newLink = FileLink(each->filePath);
        if (link == newLink) {
            say(Kind::NotFound,
                QStringLiteral("Email [%1] links to %2 already").arg(each->record.where, newLink));
            continue;
        }
        // The link is only moved to a file that is there.
        QString problem = failure;
        if (problem.isEmpty() && !QFile::exists(each->filePath))
            problem = QStringLiteral("%1 does not exist").arg(each->filePath);
        if (!problem.isEmpty()) {
            say(Kind::Refused, QStringLiteral("Not relinked: [%1] of email [%2]: %3")
                                   .arg(each->record.filename, each->record.where, problem));
            continue;
        }
        changes.emplace_back(each, link);
    }
    if (changes.empty())
        return;
    try {
        for (const auto &[each, link] : changes)
            email->replaceInBody(bodyNote(true, each->record.detached, each->record.filename, link),
                                 bodyNote(true, each->record.detached, each->record.filename,
                                          FileLink(each->filePath)));
        email->save();
        for (const QString &notice : email->takeSaveNotices())
            m_log.Log(llWarning, notice);
    } catch (const std::exception &e) {
        for (const auto &[each, link] : changes)
            say(Kind::Refused,
                QStringLiteral("Not relinked: [%1] of email [%2]: %3")
                    .arg(each->record.filename, each->record.where, qb::messageOf(e)));
        return;
    }
    for (const auto &[each, link] : changes) {
        m_log.Log(llInfo, relinkEntry(each->record, link, FileLink(each->filePath)));
        say(Kind::Done, QStringLiteral("Relinked [%1] of email [%2] to %3")
                            .arg(each->record.filename, each->record.where, each->filePath));
    }
}
