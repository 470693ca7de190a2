#pragma once

#include "cli/ExitCode.h"

#include <QList>
#include <QUrl>

// The commands behind CommandLine, each run to its end on a running QCoreApplication.
namespace Commands {

struct SendOptions {
    QList<QUrl> files;
    bool generatePassword = false;
    bool json = false;
};

ExitCode send(const SendOptions& options);
ExitCode list(bool json);
ExitCode inbox(bool json);

} // namespace Commands
