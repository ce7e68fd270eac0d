#pragma once

#include "support/TestImapServer.h"

// A private Courier-IMAP run from its Debian packages unpacked into the build
// (tools/courier-instance.sh; the folder in QB_COURIER_ROOT). Its folders live under
// "INBOX." with "." between levels; each connection is already logged in.
struct CourierOptions
{
    bool uidPlus = true; // without it, expunged originals wait for a client's EXPUNGE
};

class CourierServer : public TestImapServer
{
public:
    explicit CourierServer(QString maildir, CourierOptions options = {});
    ~CourierServer() override;
    QString product() const override { return QStringLiteral("Courier"); }
    QString log() const override;

private:
    bool startOnce() override;

    CourierOptions m_options;
};
