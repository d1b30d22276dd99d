#include "KeptOffice.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "OfficePipe.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace office::detail {
namespace {

std::atomic<int> gConverted{0};
std::atomic<int> gFailed{0};
std::atomic<int> gUnavailable{0};

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

bool IsExecutableFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec) && access(p.c_str(), X_OK) == 0;
}

// A folder of ours that nobody else may use: made if missing, refused when it is a link, belongs
// to another user or is open to others.
bool PrivateFolder(const fs::path& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
         (st.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR lives as long as the user is logged in; without it, the temporary folder.
fs::path KeptOfficeBase() {
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/') {
    struct stat st {};
    if (stat(run, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid()) {
      return fs::path(run) / "vellumark-office";
    }
  }
  fs::path tmp = "/tmp";
  if (const char* t = std::getenv("TMPDIR"); t && *t == '/') tmp = t;
  return tmp / ("vellumark-office-" + std::to_string(getuid()));
}

struct Place {
  fs::path dir;
  fs::path Lock() const { return dir / "lock"; }
  fs::path Keeper() const { return dir / "keeper"; }
  fs::path State() const { return dir / "state"; }
  fs::path Used() const { return dir / "used"; }
  fs::path Profile() const { return dir / "profile"; }
  fs::path Tmp() const { return dir / "tmp"; }
};

std::optional<Place> PlaceFor(const std::string& launcher, bool create) {
  const fs::path base = KeptOfficeBase();
  const fs::path dir = base / ("libreoffice-" + BuildKey(launcher));
  if (create) {
    if (!PrivateFolder(base) || !PrivateFolder(dir)) return std::nullopt;
  } else {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return std::nullopt;
  }
  return Place{dir};
}

// soffice.bin beside LibreOffice's launcher: the instance and the hand-over run it directly.
std::string OfficeProgram(const std::string& launcher) {
  const fs::path program = fs::path(launcher).parent_path() / "soffice.bin";
  const std::string name = fs::path(launcher).filename().string();
  if ((name == "oosplash" || name == "soffice") && IsExecutableFile(program)) return program;
  return {};
}

std::string KeeperProgram(const ConvertOptions& options) {
  if (options.keeper) return IsExecutableFile(*options.keeper) ? *options.keeper : std::string();
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  const fs::path keeper = self.parent_path() / "Officekeeper";
  return IsExecutableFile(keeper) ? keeper.string() : std::string();
}

// The Unix socket on which LibreOffice's first instance takes the command lines of later ones:
// named after the MD5 of the profile URL as UTF-16 (each byte in hex, without leading zeros),
// in /tmp, else /var/tmp.
fs::path InstancePipe(const std::string& profileUrl) {
  const QString url =
      QString::fromUtf8(profileUrl.data(), static_cast<qsizetype>(profileUrl.size()));
  QByteArray utf16;
  for (QChar c : url) {
    utf16.append(static_cast<char>(c.unicode() & 0xFF));
    utf16.append(static_cast<char>(c.unicode() >> 8));
  }
  const QByteArray md5 = QCryptographicHash::hash(utf16, QCryptographicHash::Md5);
  std::string hex;
  for (char byte : md5) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%x",
                  static_cast<unsigned>(static_cast<unsigned char>(byte)));
    hex += digits;
  }
  const char* folder = access("/tmp", W_OK) == 0 ? "/tmp" : "/var/tmp";
  return fs::path(folder) / ("OSL_PIPE_" + std::to_string(getuid()) + "_SingleOfficeIPC_" + hex);
}

bool IsSocket(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Alive and not a zombie.
bool Runs(pid_t pid) {
  if (pid <= 0 || kill(pid, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

class LockFile {
 public:
  explicit LockFile(const fs::path& path)
      : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}
  ~LockFile() {
    if (fd_ >= 0) close(fd_);
  }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  bool Valid() const { return fd_ >= 0; }
  bool TryLock() {
    if (fd_ < 0) return false;
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }
  // Polls: a lock taken elsewhere for longer than `wait` is no reason to block on.
  bool LockWithin(milliseconds wait) {
    const auto end = Clock::now() + wait;
    while (!TryLock()) {
      if (fd_ < 0 || Clock::now() >= end) return false;
      std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
  }
  void Unlock() {
    if (fd_ >= 0) flock(fd_, LOCK_UN);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Whether a keeper holds its lock file, i.e. lives.
bool KeeperLives(const Place& place) {
  LockFile keeper(place.Keeper());
  if (!keeper.Valid()) return false;
  if (keeper.TryLock()) return false;
  return true;
}

std::optional<KeptProcesses> ReadState(const Place& place) {
  std::ifstream in(place.State());
  KeptProcesses p;
  if (!(in >> p.keeper >> p.office) || p.keeper <= 0 || p.office <= 0) return std::nullopt;
  return p;
}

void Touch(const fs::path& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  futimens(fd, nullptr);
  close(fd);
}

bool WaitKeeperGone(const Place& place, milliseconds wait) {
  LockFile keeper(place.Keeper());
  const bool gone = keeper.LockWithin(wait);
  keeper.Unlock();
  return gone;
}

// Ends the instance: the office's process group at once, then the keeper, which clears the
// folder. Called with the use lock held, so no conversion is using it.
bool EndInstance(const Place& place) {
  if (!KeeperLives(place)) return false;
  const std::optional<KeptProcesses> p = ReadState(place);
  if (p) {
    kill(-p->office, SIGKILL);
    kill(p->keeper, SIGTERM);
  }
  if (WaitKeeperGone(place, milliseconds(10000))) return true;
  if (p) kill(p->keeper, SIGKILL);
  WaitKeeperGone(place, milliseconds(5000));
  return true;
}

void EmptyFolder(const fs::path& folder) {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    std::error_code rm;
    fs::remove_all(e.path(), rm);
  }
}

// Starts the keeper and waits until it reports its instance ready.
bool StartKeeper(const std::string& keeper, const Place& place, const std::string& office,
                 const fs::path& templ, milliseconds timeout, std::string* error) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;
  milliseconds idle = kIdle;
  // Tests shorten the idle period; nothing else sets this.
  if (const char* ms = std::getenv("VM_OFFICE_IDLE_MS"); ms && *ms) {
    idle = milliseconds(std::strtoll(ms, nullptr, 10));
  }
  std::vector<std::string> args = {keeper,
                                   place.dir.string(),
                                   office,
                                   std::to_string(idle.count()),
                                   std::to_string(timeout.count()),
                                   templ.string()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, keeper.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(ready[1]);
  if (rc != 0) {
    close(ready[0]);
    SetError(error, "cannot start " + keeper);
    return false;
  }
  // The keeper detaches at once; what stays runs on in a session of its own.
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  std::string answer;
  const auto end = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{ready[0], POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    char buffer[64];
    const ssize_t got = read(ready[0], buffer, sizeof buffer);
    if (got <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(got));
    if (answer.find('\n') != std::string::npos) break;
  }
  close(ready[0]);
  if (answer == "ready\n") return true;
  SetError(error, "LibreOffice did not get ready in time");
  return false;
}

}  // namespace

namespace {

KeptRun Attempt(const ConvertOptions& options, const std::string& launcher,
                const std::string& target, const fs::path& outDir,
                const std::vector<fs::path>& inputs, const fs::path& templ,
                const std::function<bool()>& made, std::string* error) {
  const std::string keeper = KeeperProgram(options);
  const std::string office = OfficeProgram(launcher);
  if (keeper.empty() || office.empty()) return KeptRun::Unavailable;
  // What the instance is to do, as LibreOffice's own hand-over would send it; arguments it
  // cannot take go to a cold run.
  std::vector<std::string> args = {"--headless",  "--invisible",   "--nologo",     "--norestore",
                                   "--nodefault", "--nolockcheck", "--convert-to", target,
                                   "--outdir",    outDir.string()};
  for (const fs::path& input : inputs) args.push_back(input.string());
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  const std::optional<std::string> message =
      ArgumentsMessage(ec ? std::string() : FileUrl(cwd), args);
  if (!message) return KeptRun::Unavailable;
  const std::optional<Place> place = PlaceFor(launcher, true);
  if (!place) return KeptRun::Unavailable;
  LockFile lock(place->Lock());
  // Conversions take turns; one that finds the instance busy for long converts on its own.
  const milliseconds busy = std::min<milliseconds>(milliseconds(30000), options.timeout / 4);
  if (!lock.LockWithin(busy)) return KeptRun::Unavailable;

  const std::string profileUrl = FileUrl(place->Profile());
  const fs::path pipe = InstancePipe(profileUrl);
  std::optional<KeptProcesses> running;
  if (KeeperLives(*place)) {
    running = ReadState(*place);
    if (!running || !Runs(running->office) || !IsSocket(pipe)) {
      EndInstance(*place);
      running.reset();
    }
  }
  if (!running) {
    if (!StartKeeper(keeper, *place, office, templ, options.timeout, error)) {
      EndInstance(*place);
      return KeptRun::Unavailable;
    }
  }

  // The command line goes over the pipe, as a second LibreOffice would hand it over.
  const HandOver handed = HandOverArguments(pipe, *message, options.timeout);
  const bool converted = handed == HandOver::Done && made();
  Touch(place->Used());
  if (converted) return KeptRun::Converted;
  // Hung, dead or in some state that fails conversions: end it, so the retry and the next
  // conversion start afresh, and let the retry find an empty folder.
  if (handed == HandOver::TimedOut) SetError(error, "LibreOffice did not finish in time");
  EndInstance(*place);
  EmptyFolder(outDir);
  return KeptRun::Failed;
}

}  // namespace

KeptRun ConvertOnKeptOffice(const ConvertOptions& options, const std::string& launcher,
                            const std::string& target, const fs::path& outDir,
                            const std::vector<fs::path>& inputs, const fs::path& templ,
                            const std::function<bool()>& made, std::string* error) {
  const KeptRun run = Attempt(options, launcher, target, outDir, inputs, templ, made, error);
  switch (run) {
    case KeptRun::Converted:
      ++gConverted;
      break;
    case KeptRun::Failed:
      ++gFailed;
      break;
    case KeptRun::Unavailable:
      ++gUnavailable;
      break;
  }
  return run;
}

KeptCounts KeptRunCounts() {
  return {gConverted.load(), gFailed.load(), gUnavailable.load()};
}

fs::path KeptOfficePipe(const std::string& launcher) {
  const std::optional<Place> place = PlaceFor(launcher, false);
  return place ? InstancePipe(FileUrl(place->Profile())) : fs::path();
}

std::optional<KeptProcesses> FindKeptOffice(const std::string& launcher) {
  const std::optional<Place> place = PlaceFor(launcher, false);
  if (!place || !KeeperLives(*place)) return std::nullopt;
  return ReadState(*place);
}

bool EndKeptOfficeFor(const std::string& launcher, milliseconds wait) {
  const std::optional<Place> place = PlaceFor(launcher, false);
  if (!place) return false;
  LockFile lock(place->Lock());
  lock.LockWithin(wait);
  return EndInstance(*place);
}

// ---------------------------------------------------------------------------------------------
// The keeper.

namespace {

volatile std::sig_atomic_t gStop = 0;

extern "C" void OnStopSignal(int) {
  gStop = 1;
}

// The login session this process belongs to, as logind names it, when there is one.
std::string LoginSession() {
  if (const char* id = std::getenv("XDG_SESSION_ID"); id && *id) return id;
  std::ifstream cgroup("/proc/self/cgroup");
  for (std::string line; std::getline(cgroup, line);) {
    const std::size_t at = line.find("/session-");
    if (at == std::string::npos) continue;
    const std::size_t end = line.find(".scope", at);
    if (end != std::string::npos) return line.substr(at + 9, end - at - 9);
  }
  return {};
}

// False once logind has forgotten the session or is closing it (the user logged out).
bool SessionOpen(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (line == "STATE=closing") return false;
  }
  return true;
}

class Keeper {
 public:
  Keeper(Place place, std::string office, milliseconds idle, milliseconds start, fs::path templ)
      : place_(std::move(place)),
        office_(std::move(office)),
        idle_(idle),
        start_(start),
        templ_(std::move(templ)),
        profileUrl_(FileUrl(place_.Profile())),
        pipe_(InstancePipe(profileUrl_)) {}

  int Run() {
    LockFile keeper(place_.Keeper());
    struct stat st {};
    if (!keeper.TryLock() || stat(place_.dir.c_str(), &st) != 0) {
      Report("failed");  // another keeper runs, or the folder went
      return 0;
    }
    dirInode_ = st.st_ino;
    if (const std::string session = LoginSession(); !session.empty()) {
      const fs::path file = fs::path("/run/systemd/sessions") / session;
      std::error_code ec;
      if (fs::exists(file, ec)) session_ = file;
    }
    if (!Prepare() || !StartOffice() || !WaitReady()) {
      End();
      Report("failed");
      return 0;
    }
    Report("ready");
    Watch();
    return 0;
  }

 private:
  void Report(const char* word) {
    if (reported_) return;
    reported_ = true;
    const std::string line = std::string(word) + "\n";
    [[maybe_unused]] const ssize_t n = write(3, line.data(), line.size());
    close(3);
  }

  void RemoveLeftovers() {
    std::error_code ec;
    fs::remove_all(place_.Profile(), ec);
    fs::remove_all(place_.Tmp(), ec);
    fs::remove(place_.State(), ec);
    unlink(pipe_.c_str());
  }

  // A fresh profile of the instance: from the set-up template, or set up here once by a start
  // that ends after initialisation (a fresh profile asks for a restart first).
  bool Prepare() {
    RemoveLeftovers();
    std::error_code ec;
    if (!fs::create_directory(place_.Tmp(), ec)) return false;
    if (!templ_.empty() && fs::is_directory(templ_ / "user", ec) &&
        CopyTree(templ_, place_.Profile())) {
      MarkVersionSeen(place_.Profile(), office_);
      return true;
    }
    fs::remove_all(place_.Profile(), ec);
    for (int attempt = 0; attempt < 3; ++attempt) {
      const int code = RunOffice({"--terminate_after_init"});
      if (code == 0) {
        if (!templ_.empty()) SaveTemplate(place_.Profile(), templ_);
        MarkVersionSeen(place_.Profile(), office_);
        return true;
      }
      if (code != 79) return false;  // 79: restart asked for
    }
    return false;
  }

  std::vector<std::string> OfficeArgs(const std::vector<std::string>& extra) const {
    std::vector<std::string> args = {office_,       "-env:UserInstallation=" + profileUrl_,
                                     "--headless",  "--invisible",
                                     "--nologo",    "--norestore",
                                     "--nodefault", "--nolockcheck"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // The office in a process group of its own, killed should this process die first.
  pid_t SpawnOffice(const std::vector<std::string>& extra) {
    const std::vector<std::string> args = OfficeArgs(extra);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string tmp = "TMPDIR=" + place_.Tmp().string();
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "TMPDIR=", 7) != 0 &&
          std::strncmp(*e, "SAL_DISABLE_USERMIGRATION=", 26) != 0) {
        envp.push_back(*e);
      }
    }
    envp.push_back(const_cast<char*>(tmp.c_str()));
    envp.push_back(const_cast<char*>(kNoMigration));
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      setpgid(0, 0);
      signal(SIGTERM, SIG_DFL);
      signal(SIGINT, SIG_DFL);
      signal(SIGHUP, SIG_DFL);
      signal(SIGPIPE, SIG_DFL);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    if (pid > 0) setpgid(pid, pid);
    return pid;
  }

  int RunOffice(const std::vector<std::string>& extra) {
    const pid_t pid = SpawnOffice(extra);
    if (pid < 0) return -1;
    const auto end = Clock::now() + start_;
    for (;;) {
      int status = 0;
      const pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      if (Clock::now() >= end || gStop) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
  }

  bool StartOffice() {
    // An office with no document ends itself after a handed-over conversion: keep one open.
    office_pid_ = SpawnOffice({"private:factory/swriter"});
    if (office_pid_ <= 0) return false;
    std::ofstream(place_.State()) << getpid() << ' ' << office_pid_ << '\n';
    return true;
  }

  bool OfficeEnded() {
    if (office_pid_ <= 0) return true;
    int status = 0;
    if (waitpid(office_pid_, &status, WNOHANG) == office_pid_) {
      kill(-office_pid_, SIGKILL);
      office_pid_ = 0;
      return true;
    }
    return false;
  }

  // Ready once the office has made its pipe: a command line handed over from then on waits in
  // it until the office has started up.
  bool WaitReady() {
    const auto end = Clock::now() + start_;
    while (!gStop && !OfficeEnded() && Clock::now() < end) {
      if (IsSocket(pipe_)) return true;
      std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
  }

  bool FolderGone() const {
    struct stat st {};
    return stat(place_.dir.c_str(), &st) != 0 || st.st_ino != dirInode_;
  }

  void Watch() {
    LockFile lock(place_.Lock());
    Touch(place_.Used());
    auto lastActive = Clock::now();
    struct timespec lastUsed {};
    const milliseconds tick = std::clamp(idle_ / 4, milliseconds(20), milliseconds(1000));
    for (;;) {
      const struct timespec pause = {static_cast<time_t>(tick.count() / 1000),
                                     static_cast<long>(tick.count() % 1000) * 1000000L};
      nanosleep(&pause, nullptr);
      if (gStop || FolderGone() || (!session_.empty() && !SessionOpen(session_))) {
        End();
        return;
      }
      if (OfficeEnded()) {
        // A conversion may still be on its way out with the profile: wait for its turn.
        lock.LockWithin(start_ + milliseconds(10000));
        End();
        return;
      }
      // Idle time on the monotonic clock: a conversion seen running, or a new stamp, is use.
      struct stat st {};
      if (stat(place_.Used().c_str(), &st) == 0 &&
          (st.st_mtim.tv_sec != lastUsed.tv_sec || st.st_mtim.tv_nsec != lastUsed.tv_nsec)) {
        lastUsed = st.st_mtim;
        lastActive = Clock::now();
      }
      if (!lock.TryLock()) {
        lastActive = Clock::now();
        continue;
      }
      if (Clock::now() - lastActive >= idle_) {
        End();
        return;
      }
      lock.Unlock();
    }
  }

  void End() {
    if (office_pid_ > 0) {
      kill(-office_pid_, SIGKILL);
      while (waitpid(office_pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      office_pid_ = 0;
    }
    // The folder may be gone already (logout); whatever is left of it is ours to clear.
    RemoveLeftovers();
  }

  Place place_;
  std::string office_;
  milliseconds idle_;
  milliseconds start_;
  fs::path templ_;
  std::string profileUrl_;
  fs::path pipe_;
  fs::path session_;
  ino_t dirInode_ = 0;
  pid_t office_pid_ = 0;
  bool reported_ = false;
};

// Whatever the converter inherited (its client's sockets, say) must not live on in the instance.
void CloseOtherFiles() {
  if (close_range(4, ~0U, 0) == 0) return;
  for (int fd = 4; fd < 65536; ++fd) close(fd);
}

}  // namespace

int RunKeeper(int argc, char** argv) {
  if (argc != 6) return 2;
  // Detach from the converter, which waits only for this first process, and from its session,
  // so that neither its end nor its terminal ends the instance.
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child > 0) _exit(0);
  setsid();
  if (chdir("/") != 0) return 1;
  CloseOtherFiles();
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
  Keeper keeper(Place{argv[1]}, argv[2], milliseconds(std::strtoll(argv[3], nullptr, 10)),
                milliseconds(std::strtoll(argv[4], nullptr, 10)), fs::path(argv[5]));
  return keeper.Run();
}

}  // namespace office::detail

namespace office {

bool EndKeptOffice(const ConvertOptions& options) {
  const std::string soffice = options.soffice.empty() ? FindSoffice() : options.soffice;
  if (soffice.empty()) return false;
  return detail::EndKeptOfficeFor(detail::LauncherFor(soffice), options.timeout);
}

}  // namespace office
