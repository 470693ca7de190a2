#pragma once

#include <QStringList>

// `zanvolt send|list|inbox`, `--help` and `--version`: the client without the tray, for scripts and
// terminals. Needs only a QCoreApplication (no display), so main() decides before it makes one.
class CommandLine {
public:
    // Whether these arguments (after the program name) are for the command line rather than files
    // handed to the tray client.
    static bool handles(const QStringList& arguments);
    // Runs the command in `arguments` (with the program name first) to its end: the exit code.
    static int run(const QStringList& arguments);
};
