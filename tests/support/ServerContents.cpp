#include "support/ServerContents.h"

#include "imap/Connection.h"
#include "imap/ResponseValue.h"
#include "mailstore/mime/ParsedEmail.h"

#include <QStringList>

#include <algorithm>

std::multimap<QByteArray, HeldMessage> serverContents(const TestImapServer &server)
{
    imap::Connection connection({server.host(), server.port(), imap::Security::Plain});
    connection.open({server.user(), server.password()});
    QStringList mailboxes;
    imap::Command list("LIST");
    list.string("").string("*");
    connection.run(list, [&](const imap::Response &response) {
        if (response.name == "LIST" && response.values.size() >= 3)
            mailboxes << QString::fromUtf8(response.values.at(2).text);
    });
    std::multimap<QByteArray, HeldMessage> held;
    for (const QString &mailbox : mailboxes) {
        imap::Command examine("EXAMINE");
        examine.mailbox(mailbox);
        qint64 exists = 0;
        connection.run(examine, [&](const imap::Response &response) {
            if (response.name == "EXISTS")
                exists = response.number;
        });
        if (exists == 0)
            continue; // "1:*" names no message there, and the server says so
        connection.run(
            imap::Command("FETCH 1:* (FLAGS INTERNALDATE BODY.PEEK[])"),
            [&](const imap::Response &response) {
                if (response.name != "FETCH")
                    return;
                HeldMessage message;
                message.mailbox = mailbox;
                for (const imap::Value &flag : imap::fetchItem(response, "FLAGS")->list) {
                    if (flag.text != "\\Recent")
                        message.flags << flag.text;
                }
                std::sort(message.flags.begin(), message.flags.end());
                message.internalDate = imap::fetchItem(response, "INTERNALDATE")->text;
                message.bytes = imap::fetchItem(response, "BODY[]")->text;
                const mime::ParsedEmail email(message.bytes);
                held.emplace(email.tree().interpretedHeader(0, "Message-ID").trimmed(), message);
            });
    }
    return held;
}
