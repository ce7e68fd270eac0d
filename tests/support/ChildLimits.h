#pragma once

#include <QProcess>

#include <csignal>
#include <sys/resource.h>
#include <utility>
#include <vector>

// Resource limits (RLIMIT_AS, RLIMIT_FSIZE, RLIMIT_CPU...) for a program that a test
// starts, set in the child just before the program runs, so the test keeps its own.
// Signals that a test may ignore (FileSizeLimit ignores SIGXFSZ) get their default
// action back, so the program meets a limit as it would when started from a shell.
inline void limitChild(QProcess &process, std::vector<std::pair<int, rlim_t>> limits)
{
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer reserves terabytes of address space for its shadow memory: an
    // address-space limit would stop it before main. Memory is measured without it.
    std::erase_if(limits, [](const auto &limit) { return limit.first == RLIMIT_AS; });
#endif
    process.setChildProcessModifier([limits = std::move(limits)] {
        std::signal(SIGXFSZ, SIG_DFL);
        for (const auto &[resource, value] : limits) {
            const rlimit limit{value, value};
            setrlimit(resource, &limit);
        }
    });
}
