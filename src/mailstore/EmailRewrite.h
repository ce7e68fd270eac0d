#pragma once

#include "mailstore/mime/ParsedEmail.h"
#include "mailstore/mime/RewritePlan.h"

#include <QByteArrayView>

#include <functional>
#include <utility>
#include <vector>

namespace mailstore {

// A change to one email as a store is about to store it: what was there, what will be,
// and where they differ, so that the change can be reversed byte for byte.
struct EmailRewrite
{
    const mime::ParsedEmail &original;
    QByteArrayView rewritten;
    std::vector<mime::ChangedSpan> changes;
    // (position among the original's attachments, node in its tree) of each one removed.
    std::vector<std::pair<int, int>> removed;
};

// Told of a change once the rewritten email is checked and before it replaces the old
// one; when it throws, the old email stays as it is.
using RewriteWatcher = std::function<void(const EmailRewrite &)>;

} // namespace mailstore
