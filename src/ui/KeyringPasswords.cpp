#include "KeyringPasswords.h"

#include "StorePasswords.h"
#include "common/Error.h"

#include <QEventLoop>

#include <qt6keychain/keychain.h>

namespace {

const QString service = QStringLiteral("Quillbrook");

// Runs the job to its end; the user cannot act on the windows meanwhile.
QKeychain::Error run(QKeychain::Job &job, const MailStoreEntry &account)
{
    job.setAutoDelete(false);
    // Never the plain-text file QtKeychain falls back to without a keyring.
    job.setInsecureFallback(false);
    job.setKey(KeyringPasswords::keyOf(account));
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start(); // starts from the event loop, so finished cannot come before exec
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return job.error();
}

// The errors that say there is no keyring to talk to, rather than a refusal.
bool meansNoKeyring(QKeychain::Error error)
{
    return error == QKeychain::NoBackendAvailable || error == QKeychain::NotImplemented ||
           error == QKeychain::OtherError;
}

QString noKeyringText(const QKeychain::Job &job)
{
    return QStringLiteral("No keyring is available on this desktop, so passwords cannot be "
                          "remembered: Quillbrook asks for them once in each session. (The "
                          "keyring's answer: %1)")
        .arg(job.errorString());
}

} // namespace

QString KeyringPasswords::keyOf(const MailStoreEntry &account)
{
    return QStringLiteral("imap:") + StorePasswords::accountKey(account);
}

std::optional<QString> KeyringPasswords::read(const MailStoreEntry &account)
{
    if (!m_unavailable.isEmpty())
        return std::nullopt;
    QKeychain::ReadPasswordJob job(service);
    const QKeychain::Error error = run(job, account);
    if (error == QKeychain::NoError)
        return job.textData();
    if (meansNoKeyring(error))
        m_unavailable = noKeyringText(job);
    return std::nullopt;
}

void KeyringPasswords::write(const MailStoreEntry &account, const QString &password)
{
    if (!m_unavailable.isEmpty())
        throw qb::Error(m_unavailable);
    QKeychain::WritePasswordJob job(service);
    job.setTextData(password);
    const QKeychain::Error error = run(job, account);
    if (error == QKeychain::NoError)
        return;
    if (meansNoKeyring(error)) {
        m_unavailable = noKeyringText(job);
        throw qb::Error(m_unavailable);
    }
    throw qb::Error(QStringLiteral("The keyring did not keep the password of %1: %2")
                        .arg(account.accountText(), job.errorString()));
}

void KeyringPasswords::remove(const MailStoreEntry &account)
{
    if (!m_unavailable.isEmpty())
        return;
    QKeychain::DeletePasswordJob job(service);
    const QKeychain::Error error = run(job, account);
    if (error == QKeychain::NoError || error == QKeychain::EntryNotFound)
        return;
    if (meansNoKeyring(error)) {
        m_unavailable = noKeyringText(job);
        return;
    }
    throw qb::Error(QStringLiteral("The keyring did not remove the password of %1: %2")
                        .arg(account.accountText(), job.errorString()));
}
