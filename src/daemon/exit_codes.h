#pragma once

namespace parlix {

/// The exit codes of parlixd, after the BSD sysexits convention that service managers know.
enum ExitCode : int {
    /// Stopped cleanly on a signal, or --help, --version, --login done.
    kExitOk = 0,
    /// An unknown option or a missing value.
    kExitUsage = 64,
    /// A program error that nothing caught; the log names it.
    kExitSoftware = 70,
    /// The credentials could not be saved.
    kExitCannotSave = 73,
    /// Another Parlix program sends from the same program folder.
    kExitAlreadyRunning = 75,
    /// The folder, configuration, credentials, database, registry or settings cannot be used.
    kExitConfig = 78,
    /// --login was stopped at its prompts by Ctrl-C (128 + SIGINT, as a shell reports it).
    kExitInterrupted = 130,
};

}  // namespace parlix
