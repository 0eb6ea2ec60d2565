#pragma once
// Processes: the snapshot of the running processes, termination, and running
// a program (or a batch file) to its end. Texts are ANSI.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One running process as the snapshot saw it.
struct TProcessEntry {
  uint32_t id = 0;
  // Tells the process apart from a later one that gets the same id.
  uint64_t startTime = 0;
  // The name the system gives the program (Windows: the snapshot's file
  // name; Linux: /proc/<id>/comm, at most 15 bytes).
  std::string exeName;
  // The program as it was started (Linux: argv[0]); empty when unknown, and
  // always on Windows.
  std::string exeFile;
};

// The id of the running process.
uint32_t CurrentProcessId();

// The processes running now. Processes that end while the snapshot is taken
// are left out, and so are processes that have ended but not yet been reaped
// by their parent.
std::vector<TProcessEntry> TakeProcessSnapshot();

// Ends the process at once; on Windows it ends with `exitCode`, on Linux it
// is killed with SIGKILL. False when it cannot be ended: it is gone, it
// belongs to another user, or its id now names another process.
bool TerminateProcess(const TProcessEntry& process, uint32_t exitCode);

// Show-window states of the started program's first window.
enum : int32_t { swHide = 0, swShowNormal = 1 };

// Starts the file with the folder it lies in as current directory and waits
// until it ends; returns its exit code, or 0 when it could not be started.
//
// Windows starts it with CreateProcessA, the path as the command line, and a
// file whose name ends in ".bat" runs in the system's command interpreter.
//
// Linux: a program that its owner may not execute gets the owner's execute
// bit first: files that come from the server carry no mode bits. A file
// whose name ends in ".bat" runs as a batch file, without any shell: each
// non-blank line is split by SplitBatchLine, its program started with the
// other words as arguments and waited for, line by line. The result is the
// exit code of the last line; a line whose program cannot be started counts
// as 9009, as with the Windows command interpreter. A program that is killed
// by a signal counts as 128 + the signal.
uint32_t RunAndWait(const std::string& path, int32_t showWindow);

// RunAndWait that tells a file that could not be started (missing, not a
// program, no rights; a batch file that cannot be read) from one that ended
// with 0: nullopt for the first. A batch file that starts is started, even
// when a line's program cannot be: the line's code (9009) tells.
std::optional<uint32_t> TryRunAndWait(const std::string& path, int32_t showWindow);

// The words of a batch line: separated by blanks (spaces and tabs) outside
// double quotes. A double quote starts quoted text, which a double quote
// followed by a blank or the line end closes; other double quotes inside it
// are part of the word, so that a quoted path holding quotes stays one word.
// "%%" stands for one "%", as in the command interpreter's batch files;
// nothing else is special: no variables, no redirections, no command
// separators.
std::vector<std::string> SplitBatchLine(const std::string& line);

// `text` with each "%" doubled, so that the command interpreter reads it as
// it is in a batch file instead of expanding a variable.
std::string EscapeBatchText(const std::string& text);

} // namespace platform
