// The kill torture of the install step: the install action, in a process of
// its own (install_step_driver), is killed with SIGKILL at seeded random
// moments of each step: the back-up and snapshot, the uninstall, the install
// and the restore after a failed installer. Half the kills take everything
// the step started along (a power loss); the other half kill the updater
// alone, and what it started runs to its end. After every kill the real
// program starts once more (a silent check, whose server cannot be reached):
// then the old version or the new one must be complete, with the user's
// recent projects, and nothing of the reinstall left to do.
//
//   UPDATER_TORTURE_KILLS  number of kills (default 30; CI runs 5), shared
//                          with the crash-resume torture
//   UPDATER_TORTURE_SEED   seed of the kill moments (default 20261), to replay
//                          a failure
#include "tests/app/reinstall_fixture.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace reinstalltest;
using Clock = std::chrono::steady_clock;
using testsupport::ChildProcess;

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

enum TStep { kBackup, kUninstall, kInstall, kRestore, kSteps };
const std::array<const char*, kSteps> kStepNames{"back-up", "uninstall", "install", "restore"};
// The line of log.txt that starts each step, after the back-up, which
// starts with the process.
const std::array<const char*, kSteps> kStepStart{"", "uninstall /quiet", "install /quiet",
                                                 "install done"};

constexpr int kExtraFiles = 400;
constexpr int kInstallerPauseMs = 300;

class ReinstallTortureTest : public ::testing::Test {
protected:
  ReinstallTortureTest()
      : kills_(EnvInt("UPDATER_TORTURE_KILLS", 30)), seed_(EnvInt("UPDATER_TORTURE_SEED", 20261)),
        random_(static_cast<unsigned>(seed_)) {
    // Orphans of a killed driver come to this process, which reaps them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, scene_.Root().Utf8("exe/update"));
    scene_.Root().Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
    scene_.Root().Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=6\r\n[HTTP]\r\n"
                                              "URLUseCDN=http://127.0.0.1:1/\r\n"
                                              "URLWithnotCDN=http://127.0.0.1:1/\r\n");
  }

  void Prepare(TInstaller installer) {
    std::filesystem::remove_all(scene_.Root().Utf8("tmp/MQTUpdate"));
    std::filesystem::remove(scene_.Log());
    scene_.InstallOldVersion(TUninstaller::RemovesOneByOne, kExtraFiles);
    scene_.Installer(installer, kInstallerPauseMs);
  }

  std::unique_ptr<ChildProcess> StartDriver() {
    auto env = scene_.Environment();
    env["DISPLAY"] = std::nullopt;
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{UPDATER_INSTALL_STEP_DRIVER, scene_.Root().Utf8("exe")}, env,
        scene_.Root().Utf8("driver.txt"), std::nullopt, true);
  }

  bool Logged(const char* line) const {
    return *line == '\0' ||
           ("\n" + scene_.ReadLog()).find("\n" + std::string(line) + "\n") != std::string::npos;
  }

  // Waits until every process of the group `group` has ended and reaps it.
  static void Drain(pid_t group) {
    for (auto deadline = Clock::now() + 60s; Clock::now() < deadline;) {
      while (::waitpid(-group, nullptr, WNOHANG) > 0) {
      }
      if (::kill(-group, 0) != 0 && errno == ESRCH) return;
      std::this_thread::sleep_for(5ms);
    }
    ADD_FAILURE() << "the processes of the install step did not end";
  }

  // The times from the start of the driver at which each step began, and
  // its end, in a run that is left alone.
  std::array<Clock::duration, kSteps + 1> Measure(TInstaller installer) {
    Prepare(installer);
    std::array<Clock::duration, kSteps + 1> at{};
    const auto start = Clock::now();
    auto driver = StartDriver();
    const pid_t group = driver->Pid();
    int step = kUninstall;
    for (std::optional<int> code; !code;) {
      code = driver->WaitFor(0ms);
      for (; step < kSteps && Logged(kStepStart[step]); ++step)
        at[static_cast<size_t>(step)] = Clock::now() - start;
      if (!code) std::this_thread::sleep_for(1ms);
    }
    at[kSteps] = Clock::now() - start;
    Drain(group);
    return at;
  }

  // The next start of the program; its check fails, the recovery is what
  // counts.
  void StartAgain(int kill) {
    auto env = scene_.Environment();
    env["DISPLAY"] = std::nullopt;
    ChildProcess update({scene_.Root().Utf8("exe/update"), "-ZB"}, env,
                        scene_.Root().Utf8("update-" + std::to_string(kill) + ".txt"));
    EXPECT_EQ(update.WaitFor(60s), 1)
        << scene_.Root().Read("update-" + std::to_string(kill) + ".txt");
  }

  const int kills_;
  const int seed_;
  std::mt19937 random_;
  TReinstallScene scene_;
};

TEST_F(ReinstallTortureTest, AfterAKillAtAnyMomentTheNextStartLeavesTheOldOrTheNewVersion) {
  SCOPED_TRACE("UPDATER_TORTURE_SEED=" + std::to_string(seed_) +
               " UPDATER_TORTURE_KILLS=" + std::to_string(kills_));
  ASSERT_GT(kills_, 0);
  const auto failing = Measure(TInstaller::Fails);
  const auto succeeding = Measure(TInstaller::Succeeds);
  ASSERT_EQ(scene_.NewVersionDefects(), "") << "the measuring run did not install";

  std::array<int, kSteps> hits{};
  int missed = 0, oldVersions = 0, newVersions = 0, powerLosses = 0;
  std::uniform_real_distribution<double> within(0.0, 1.0);
  for (int kill = 0; kill < kills_; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill + 1));
    // Each step in turn, the restore only after an installer that fails.
    const int step = kill % kSteps;
    const bool fails = step == kRestore || within(random_) < 0.5;
    const auto& times = fails ? failing : succeeding;
    const auto length = times[static_cast<size_t>(step) + 1] - times[static_cast<size_t>(step)];
    const auto delay = std::chrono::duration_cast<Clock::duration>(length * within(random_));
    const bool powerLoss = within(random_) < 0.5;
    Prepare(fails ? TInstaller::Fails : TInstaller::Succeeds);

    auto driver = StartDriver();
    const pid_t group = driver->Pid();
    while (!Logged(kStepStart[step]) && !driver->WaitFor(0ms)) {
      std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(delay);
    const bool running = ::kill(powerLoss ? -group : group, SIGKILL) == 0;
    const auto code = driver->WaitFor(10s);
    ASSERT_TRUE(code.has_value());
    if (running && code == 128 + SIGKILL) {
      ++hits[static_cast<size_t>(step)];
      powerLosses += powerLoss ? 1 : 0;
    } else {
      ++missed;
    }
    Drain(group);

    StartAgain(kill);
    const std::string oldDefects = scene_.OldVersionDefects();
    const std::string newDefects = scene_.NewVersionDefects();
    EXPECT_TRUE(oldDefects.empty() || newDefects.empty())
        << "neither version is complete after a kill in the " << kStepNames[step] << " ("
        << (powerLoss ? "power loss" : "updater killed") << ")\nold version:\n"
        << oldDefects << "new version:\n"
        << newDefects << "run log:\n"
        << scene_.Root().Read("exe/update.log");
    EXPECT_EQ(scene_.ReadInstalled("RecentProject.log"), kUserProjects);
    EXPECT_FALSE(scene_.Root().Exists("tmp/MQTUpdate/Reinstall.ini"));
    EXPECT_FALSE(scene_.Root().Exists("tmp/MQTUpdate/Snapshot"));
    (oldDefects.empty() ? oldVersions : newVersions) += 1;
    if (HasFailure()) break;
  }
  std::printf("%d kills (%d as a power loss): back-up %d, uninstall %d, install %d, restore %d, "
              "%d after the step had ended; then %d old and %d new versions\n",
              hits[kBackup] + hits[kUninstall] + hits[kInstall] + hits[kRestore], powerLosses, hits[kBackup], hits[kUninstall], hits[kInstall],
              hits[kRestore], missed, oldVersions, newVersions);
}

} // namespace
