// Starting a program from a command line, as WinExec does.
#pragma once

namespace qm::plat {

enum : unsigned {
    kLaunchStarted = 33,       // any result above 31 means started; this is the one POSIX gives
    kLaunchNoResources = 0,
    kLaunchFileNotFound = 2,
    kLaunchPathNotFound = 3,
    kLaunchBadFormat = 11,
};

// WinExec(command_line, show): starts the program and returns without waiting for it to
// end. The result is above 31 when it started, otherwise one of the codes above.
//
// POSIX: the command line is taken apart at blanks (no quoting). The program is the
// shortest run of leading words that names an existing file, as CreateProcess tries
// them ("C:\My Root\bin\x.exe a" tries "C:\My", then "C:\My Root\bin\x.exe"); a word
// without a separator is looked up in PATH. The program receives every word as one
// argument, "\" turned into "/", and the process environment. show has no meaning there.
// A program that cannot be found gives 2 (3 when the first word's directory is
// missing); a file that cannot be run gives 11; no process to run it in gives 0.
unsigned launch(const char* command_line, int show) noexcept;

}  // namespace qm::plat
