#pragma once

#include <QString>

#include <optional>

namespace update {

// What the versions file says about this release.
struct VersionCheck
{
    enum class Result {
        Current,      // the file's stamp is not later than this release's
        Newer,        // a newer release exists
        InvalidStamp, // the product's line holds no valid stamp (value says what it holds)
        NotFound,     // no line for the product
    };
    Result result = Result::NotFound;
    QString value;    // the text after the product's comma, at most 255 characters
    double stamp = 0; // the stamp read, when valid
};

// The versions file: one product a line (CR, LF or CR LF), "name,stamp[,anything]".
// The first line whose text before its first comma is the product's name exactly
// (letter case and blanks count) is the product's; lines without a comma are skipped.
std::optional<QString> productValue(const QString &versionsFile, const QString &product);

// A stamp: the text before a comma, read as a decimal number ("." as the point, blanks
// only before it, optional sign and exponent). Nothing when it is not one, or is not
// finite.
std::optional<double> readStamp(const QString &value);

VersionCheck checkVersions(const QString &versionsFile, const QString &product,
                           double releaseStamp);

} // namespace update
