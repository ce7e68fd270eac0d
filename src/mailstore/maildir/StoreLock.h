#pragma once

#include <QString>

#include <functional>

namespace maildir {

// Keeps two copies of the program (the desktop program and a scheduled command,
// say) from rewriting one store at once: an flock on a file in the store's root,
// held for as long as this object lives.
class StoreLock
{
public:
    // Waits while another holder has it and stillWaiting(seconds waited) returns
    // true; throws qb::MailStoreError when it gives up or the lock cannot be made.
    StoreLock(const QString &root, const std::function<bool(int)> &stillWaiting);
    ~StoreLock();
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;

private:
    int m_fd = -1;
};

} // namespace maildir
