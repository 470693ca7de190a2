#pragma once

#include "models/ErrorText.h"

// What `zanvolt` returns to the shell; `zanvolt --help` lists them.
enum class ExitCode {
    Success = 0,
    Failure = 1,       // cancelled, or the running client did not answer
    Usage = 2,         // unknown command or option, no files
    Configuration = 3, // no server or API key stored, secret store unavailable
    Server = 4,        // the network or the server failed
    LocalFile = 5      // a file is missing or unreadable, packing failed
};

ExitCode exitCodeFor(ErrorKind kind);
