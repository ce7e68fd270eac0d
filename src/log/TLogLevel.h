#pragma once

#include <QString>

#include <cstdint>

enum TLogLevel : std::uint8_t { llInfo = 0, llWarning = 1, llError = 2 };

// The level's text in the log ("**" for a value outside the three levels).
QString LevelName(TLogLevel level);
