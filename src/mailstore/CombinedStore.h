#pragma once

#include "MailStore.h"

#include <vector>

namespace mailstore {

// Several stores of different kinds (Maildirs, IMAP accounts) seen as one: their top
// folders side by side in the given order, the default Inbox that of the first store
// that has one, and look-ups asked of each store in turn.
ApplicationFactory combinedStores(std::vector<ApplicationFactory> parts);

} // namespace mailstore
