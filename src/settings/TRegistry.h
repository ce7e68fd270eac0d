#pragma once

#include "Hive.h"

#include <QString>

#include <functional>
#include <optional>

// The registry of this program: two hive files, HKEY_CURRENT_USER as user.reg and
// HKEY_LOCAL_MACHINE as machine.reg, in $XDG_CONFIG_HOME/quillbrook/ (~/.config
// when unset). A registry object opens one key at a time, as regedit's API does.
//
// Every change re-reads the hive under a lock and replaces the file atomically,
// so two running copies never lose each other's keys. A hive file that cannot be
// read is put aside under a new name, with a message on stderr, and the program
// goes on as if it were empty.
//
// Between beginBatch() and commit() changes are held back and then written in one
// replacement of the file, the same way; this object's reads see them meanwhile.
class TRegistry
{
public:
    enum class Root { CurrentUser, LocalMachine };

    explicit TRegistry(Root root = Root::CurrentUser);
    // Commits a batch still open; a failure then goes to stderr.
    ~TRegistry();
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    static QString hivePath(Root root);

    // Opens a key below the root ("SOFTWARE\Vellmor Software\Quillbrook"); creates
    // it when canCreate. False when it does not exist or cannot be created.
    bool OpenKey(const QString &key, bool canCreate);
    void CloseKey();
    bool KeyExists(const QString &key) const;
    QStringList subKeys() const;

    std::optional<RegistryValue> value(const QString &name) const;

    // Throw qb::Error "Failed to set data for '<name>'" when the hive cannot be written.
    void WriteString(const QString &name, const QString &text);
    void WriteExpandString(const QString &name, const QString &text);
    void WriteInteger(const QString &name, qint32 number);
    void WriteBool(const QString &name, bool flag);
    bool DeleteValue(const QString &name);
    // Deletes a key below the root, with everything below it.
    bool DeleteKey(const QString &key);

    // Holds back the changes from here on, until commit().
    void beginBatch();
    // Writes the held-back changes into the hive as it is on disk now and ends the
    // batch. Throws qb::Error "Failed to set data for '<name>'", naming the first
    // change, when the hive cannot be written; the changes are then dropped.
    void commit();

private:
    // Changes the hive; true when it did.
    using Change = std::function<bool(Hive &)>;
    enum class Subject { Key, Value };
    struct HeldChange
    {
        Subject subject;
        QString name; // the value's name or the key's path, for the error message
        Change change;
    };

    QString fullPath(const QString &key) const;
    // The hive on disk, with the held-back changes of a batch.
    Hive read() const;
    // Applies change to the hive as it is on disk now; false when it cannot be saved.
    bool modify(const Change &change);
    // Makes a change: at once, or held back in a batch. Returns what change returned,
    // or nothing when it could not be saved.
    std::optional<bool> makeChange(Subject subject, const QString &name, const Change &change);
    void write(const QString &name, const RegistryValue &value);

    Root m_root;
    QString m_path;
    QString m_currentKey; // empty when no key is open
    Hive m_hive;          // as read when the key was opened, with this object's changes
    bool m_batch = false;
    QList<HeldChange> m_held;
};

// Read-with-default: a missing value, or one of another type, gives the default.
qint32 readIntegerOr(const TRegistry &registry, const QString &name, qint32 fallback);
bool readBoolOr(const TRegistry &registry, const QString &name, bool fallback);
QString readStringOr(const TRegistry &registry, const QString &name, const QString &fallback);
