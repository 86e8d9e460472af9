#pragma once

// Exit statuses of every quorvel command.
enum ExitStatus : int {
    exitSuccess = 0,
    exitFailure = 1,       // some input could not be done; the others were
    exitUsage = 2,         // the command line itself was wrong; nothing was done
    exitInterrupted = 130, // stopped by Ctrl+C (128 + SIGINT), as shells expect
};
