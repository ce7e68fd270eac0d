#pragma once

#include <optional>

// What the desktop program prints for --help (-h) and --version. Answered before any
// window, so it works without a display. Returns the exit status when one of them was
// given, and the program then ends; nothing otherwise.
std::optional<int> answerInformationOptions(int argc, char *argv[]);
