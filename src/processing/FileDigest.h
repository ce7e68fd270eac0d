#pragma once

#include <QString>

// The SHA-256 of a file's bytes as 64 lower-case hex digits. Throws qb::Error with
// the system's reason when the file cannot be read.
QString fileSha256(const QString &path);
