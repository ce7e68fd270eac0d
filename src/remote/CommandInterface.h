#pragma once

// The remote layer: how another program drives a running copy of the desktop program
// over the session bus: the names on the bus, the command text and the client that
// sends it. It links the common layer and Qt D-Bus, and knows nothing of windows: the
// ui layer serves the commands, the programs send them.

#include <QLatin1String>
#include <QtGlobal>

namespace remote {

// The running desktop program owns this name on the session bus, with one object at
// objectPath that offers the method Execute(s topic, s command) of interfaceName.
inline constexpr QLatin1String busName{"org.vellmor.Quillbrook"};
inline constexpr QLatin1String objectPath{"/"};
inline constexpr QLatin1String interfaceName{"org.vellmor.Quillbrook"};
inline constexpr QLatin1String executeMethod{"Execute"};
// The one topic that takes commands; a caller's topic is matched without regard to case.
inline constexpr QLatin1String topic{"QuillbrookDDE"};

// The error replies of Execute. An unknown topic changes nothing; an invalid command and
// a settings file that cannot be opened are also shown to the user in a box.
inline constexpr QLatin1String unknownTopicError{"org.vellmor.Quillbrook.Error.UnknownTopic"};
inline constexpr QLatin1String invalidCommandError{"org.vellmor.Quillbrook.Error.InvalidCommand"};
inline constexpr QLatin1String openFailedError{"org.vellmor.Quillbrook.Error.OpenFailed"};
// The program is starting or closing and has no window to act on.
inline constexpr QLatin1String notReadyError{"org.vellmor.Quillbrook.Error.NotReady"};

// A command longer than this (in UTF-16 units) is refused as invalid without a box: a path
// is read to at most 255 characters, so no command that opens one needs a tenth of it.
inline constexpr qsizetype longestCommand = 4096;

} // namespace remote
