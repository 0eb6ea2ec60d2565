// Processes on Linux: the snapshot reads /proc, termination goes through a
// pidfd, programs start with posix_spawn, and batch files run through a
// runner of our own that starts each line's program directly, so that no
// text of a line ever reaches a shell.
#include "platform/Process.h"

#include "platform/CodePage.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

extern char** environ;

namespace platform {
namespace {

constexpr uint32_t kCannotStart = 9009;

// A small file of /proc read whole; nullopt when it cannot be read (the
// process has ended meanwhile).
std::optional<std::string> ReadProcFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (n < 0) return std::nullopt;
  return data;
}

struct TProcStat {
  char state = '?';
  uint64_t startTime = 0;
};

// The state (field 3) and start time (field 22) of /proc/<id>/stat. The
// name in field 2 may hold blanks and parentheses, so fields are counted
// from its closing parenthesis, the last one in the line.
std::optional<TProcStat> ReadProcStat(uint32_t id) {
  const std::optional<std::string> text = ReadProcFile("/proc/" + std::to_string(id) + "/stat");
  if (!text) return std::nullopt;
  const size_t close = text->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  TProcStat stat;
  const char* p = text->c_str() + close + 1;
  for (int field = 3; field <= 22; ++field) {
    while (*p == ' ')
      ++p;
    if (*p == '\0') return std::nullopt;
    if (field == 3) stat.state = *p;
    if (field == 22) stat.startTime = std::strtoull(p, nullptr, 10);
    while (*p != ' ' && *p != '\0')
      ++p;
  }
  return stat;
}

// The system calls themselves: the C library's <sys/pidfd.h> of this
// distribution lacks the C linkage for C++ callers.
int OpenPidFd(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool SendSignalByPidFd(int fd, int signal) {
  return ::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0) == 0;
}

std::optional<uint32_t> ProcessIdOf(const char* name) {
  if (*name == '\0') return std::nullopt;
  uint64_t id = 0;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return std::nullopt;
    id = id * 10 + static_cast<uint64_t>(*c - '0');
    if (id > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(id);
}

std::string FolderOf(const std::string& utf8Path) {
  const size_t slash = utf8Path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : utf8Path.substr(0, slash);
}

std::string Absolute(const std::string& utf8Path) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(utf8Path, error);
  return error ? utf8Path : path.string();
}

bool IsBatchFile(const std::string& path) {
  if (path.size() < 4) return false;
  std::string extension = path.substr(path.size() - 4);
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return extension == ".bat";
}

// Windows runs a file without asking for an execute permission, and files
// from the server arrive without one.
void AllowOwnerToExecute(const std::string& utf8Path) {
  struct stat st {};
  if (::stat(utf8Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) == 0)
    ::chmod(utf8Path.c_str(), (st.st_mode & 07777) | S_IXUSR);
}

class SpawnActions {
public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
  SpawnAttributes() { posix_spawnattr_init(&attr_); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attr_; }

private:
  posix_spawnattr_t attr_;
};

// Starts `program` (UTF-8; searched in PATH when it holds no slash) with
// `args` as its argument vector in `folder`, and waits for it. nullopt when
// it cannot be started.
std::optional<uint32_t> SpawnAndWait(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::string& folder) {
  const bool searchPath = program.find('/') == std::string::npos;
  if (!searchPath) AllowOwnerToExecute(program);

  SpawnActions actions;
  // No descriptor of ours (a download file, a connection) goes along.
  posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  posix_spawn_file_actions_addchdir_np(actions.get(), folder.c_str());
  SpawnAttributes attributes;
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(attributes.get(), &signals);
  sigfillset(&signals);
  posix_spawnattr_setsigdefault(attributes.get(), &signals);
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = searchPath ? posix_spawnp(&pid, program.c_str(), actions.get(), attributes.get(),
                                           argv.data(), environ)
                            : posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(),
                                          argv.data(), environ);
  if (rc != 0) return std::nullopt;

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 0; // started, but its end cannot be learnt
  }
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128 + static_cast<uint32_t>(WTERMSIG(status));
  return 0;
}

std::optional<uint32_t> RunBatchFile(const std::string& utf8Path) {
  std::ifstream file(utf8Path, std::ios::binary);
  if (!file) return std::nullopt;
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  const std::string folder = FolderOf(Absolute(utf8Path));

  uint32_t code = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::vector<std::string> words = SplitBatchLine(text.substr(start, end - start));
    start = end + 1;
    if (words.empty()) continue;

    std::vector<std::string> args;
    for (const std::string& word : words)
      args.push_back(AnsiToUtf8(word));
    std::string program = args[0];
    // A relative path names a file in the batch file's folder, the current
    // directory of every line.
    if (!program.empty() && program[0] != '/' && program.find('/') != std::string::npos)
      program = folder + "/" + program;
    code = SpawnAndWait(program, args, folder).value_or(kCannotStart);
  }
  return code;
}

} // namespace

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(::getpid());
}

std::vector<TProcessEntry> TakeProcessSnapshot() {
  std::vector<TProcessEntry> processes;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return processes;
  while (const dirent* entry = ::readdir(proc)) {
    const std::optional<uint32_t> id = ProcessIdOf(entry->d_name);
    if (!id) continue;
    const std::optional<TProcStat> stat = ReadProcStat(*id);
    // A process that has ended runs nothing, even while its parent has not
    // reaped it yet.
    if (!stat || stat->state == 'Z' || stat->state == 'X') continue;
    const std::string folder = "/proc/" + std::to_string(*id) + "/";
    std::optional<std::string> comm = ReadProcFile(folder + "comm");
    const std::optional<std::string> cmdline = ReadProcFile(folder + "cmdline");
    if (!comm || !cmdline) continue;
    if (!comm->empty() && comm->back() == '\n') comm->pop_back();
    processes.push_back(TProcessEntry{*id, stat->startTime, Utf8ToAnsi(*comm),
                                      Utf8ToAnsi(cmdline->substr(0, cmdline->find('\0')))});
  }
  ::closedir(proc);
  return processes;
}

bool TerminateProcess(const TProcessEntry& process, uint32_t /*exitCode*/) {
  // The pidfd holds on to the process that has the id now; it is the one of
  // the snapshot when it started at the same time.
  const int fd = OpenPidFd(static_cast<pid_t>(process.id));
  if (fd < 0 && errno != ENOSYS) return false;
  const std::optional<TProcStat> stat = ReadProcStat(process.id);
  bool ended = false;
  if (stat && stat->startTime == process.startTime)
    ended = fd >= 0 ? SendSignalByPidFd(fd, SIGKILL)
                    : ::kill(static_cast<pid_t>(process.id), SIGKILL) == 0;
  if (fd >= 0) ::close(fd);
  return ended;
}

std::optional<uint32_t> TryRunAndWait(const std::string& path, int32_t /*showWindow*/) {
  const std::string utf8 = Absolute(AnsiToUtf8(path));
  if (IsBatchFile(path)) return RunBatchFile(utf8);
  return SpawnAndWait(utf8, {utf8}, FolderOf(utf8));
}

uint32_t RunAndWait(const std::string& path, int32_t showWindow) {
  return TryRunAndWait(path, showWindow).value_or(0);
}

} // namespace platform
