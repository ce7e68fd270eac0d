#pragma once

// The common layer: what every other layer needs (errors that carry their
// message, dates, files, text helpers, the safe pattern formatter). It links Qt
// Core only and knows nothing of the layers above it.

#include <QString>

#include <exception>

namespace qb {

// A failure that carries its message text. Commands show the message in an
// error box; workers hand it to their host (see HandOverWorker::reportError).
class Error : public std::exception
{
public:
    explicit Error(QString message);

    const QString &message() const { return m_message; }
    // The kind of error, shown to the user beside the message.
    virtual const char *className() const { return "Error"; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Raised when the mail store cannot do what was asked.
class MailStoreError : public Error
{
public:
    using Error::Error;
    const char *className() const override { return "MailStoreError"; }
};

// The server refused the user's login to a mail store account; asking for the password
// again may mend it. accountKey names the account as its password is kept
// ("user@host:port"), empty when the raiser does not know it.
class LoginRefused : public MailStoreError
{
public:
    explicit LoginRefused(QString message, QString accountKey = {});
    const char *className() const override { return "LoginRefused"; }
    const QString &accountKey() const { return m_accountKey; }

private:
    QString m_accountKey;
};

// The silent abort: ends a run without any message to the user.
class AbortError : public Error
{
public:
    AbortError() : Error(QStringLiteral("Operation aborted")) {}
    const char *className() const override { return "AbortError"; }
};

// The message of any exception: an Error's text, else what() as local 8-bit text.
QString messageOf(const std::exception &error);

} // namespace qb
