#pragma once

#include "mailstore/MailStore.h"

#include <QStringList>

#include <functional>
#include <memory>

class AttachmentList;
class ConsoleHost;
class QCommandLineParser;
class TSettings;

// What the analysing commands share: the --store, --folder, --folder-id and
// --no-cache options, and a walk of the chosen folder into an attachment list.
namespace cli {

void addSourceOptions(QCommandLineParser &parser);

// The settings file of --settings, loaded into settings; false without one.
// Throws qb::Error with the file's own message when it cannot be read.
bool loadSettingsFile(const QCommandLineParser &parser, TSettings &settings);

// The stores of --store (else the default), opened once to report a missing one, with
// the summary cache unless --no-cache.
// Throws qb::Error for bad input.
mailstore::ApplicationFactory openStores(const QCommandLineParser &parser);

// Sets where the walk starts from --folder or --folder-id, else from the settings
// already in settings (a settings file's); the default Inbox otherwise.
// Throws qb::Error naming a folder that does not exist.
void chooseSource(TSettings &settings, const QCommandLineParser &parser,
                  const mailstore::ApplicationFactory &stores);

class InterruptCatcher;

// Walks the folder into list; returns when the walk has ended, early after a Ctrl+C
// that interrupts catches. The host reports whether it warned or failed. Emails
// that could not be read are listed on stderr and returned, one line each. While the
// walk runs, rowsAdded is called on this thread now and then, when set: the list's rows
// found so far may be read there.
QStringList analyse(std::unique_ptr<TSettings> settings,
                    const mailstore::ApplicationFactory &stores, ConsoleHost &host,
                    AttachmentList &list, InterruptCatcher &interrupts,
                    const std::function<void()> &rowsAdded = {});

} // namespace cli
