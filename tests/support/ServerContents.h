#pragma once

#include "support/TestImapServer.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <map>

// What an IMAP server holds of one message, read straight from it, for checking what a
// job did there.
struct HeldMessage
{
    QString mailbox;
    QByteArrayList flags; // sorted; without \Recent, which tells only which session looked first
    QByteArray internalDate;
    QByteArray bytes;
};

// Every message of every folder of the server's account, by Message-ID: several under one
// key are duplicates. Read with EXAMINE and BODY.PEEK, so nothing on the server changes.
std::multimap<QByteArray, HeldMessage> serverContents(const TestImapServer &server);
