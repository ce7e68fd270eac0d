#pragma once

#include "common/Error.h"

#include <QString>

#include <functional>

// The message of the qb::Error that action throws, or an empty text.
inline QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const qb::Error &e) {
        return e.message();
    }
    return {};
}
