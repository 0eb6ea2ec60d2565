// The cost of the snapshot that the install step takes before the old
// version's uninstaller runs, against the uninstall and the install
// themselves: an install folder of `mib` MiB in `files` files (default 300 MiB
// in 3,000), on the volume of the temporary folder, as the snapshot in the
// working folder is.
//
//   snapshot_bench [mib] [files] [rounds]      (default 300 3000 5)
//
// Each round takes the snapshot with hard links (TInstallSnapshot::Take),
// copies every file as Take does where no link can be made (LinkOrCopyFile
// without a link: an atomic replacement, flushed to disk), runs a fake
// uninstaller (rm -rf of the folder) and a fake installer (cp -a of a new
// version of the same size), and puts the old version back from the
// snapshot's links (Restore). The page cache is warm: every file has just
// been written. Prints the median of each, in milliseconds:
//   snapshot.link_ms, snapshot.copy_ms, snapshot.uninstall_ms,
//   snapshot.install_ms, snapshot.restore_ms
// and snapshot.files, snapshot.mib. Fails when a step does not do its job.
#include "app/InstallSnapshot.h"
#include "common/ZorvaFileUtils.h"
#include "platform/FileSystem.h"
#include "platform/HardLink.h"
#include "platform/Process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Time(const std::function<bool()>& step, const char* name) {
  const auto start = Clock::now();
  if (!step()) {
    std::fprintf(stderr, "snapshot_bench: %s failed\n", name);
    std::exit(1);
  }
  return Ms(Clock::now() - start);
}

// `files` files of `total` bytes in all, in sub-folders of 100 files, as an
// installation spreads its files.
std::vector<std::string> WriteTree(const std::string& root, int64_t total, int files, char seed) {
  std::vector<std::string> names;
  std::mt19937_64 random(static_cast<uint64_t>(seed));
  const auto size = static_cast<size_t>(total / files);
  std::string data(size, '\0');
  for (int i = 0; i < files; ++i) {
    for (size_t j = 0; j < size; j += 8) {
      const uint64_t w = random();
      std::memcpy(&data[j], &w, std::min<size_t>(8, size - j));
    }
    const std::string name = "lib" + std::to_string(i / 100) + "/file" + std::to_string(i) + ".dll";
    fs::create_directories(fs::path(root + name).parent_path());
    std::ofstream(root + name, std::ios::binary) << data;
    names.push_back(name);
  }
  return names;
}

std::string Script(const std::string& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

} // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 300;
  const int files = argc > 2 ? std::atoi(argv[2]) : 3000;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  std::string root = (fs::temp_directory_path() / "snapshot-bench-XXXXXX").string();
  if (!::mkdtemp(root.data())) return 1;
  root += "/";
  const std::string install = root + "install/";
  const std::string snapshotFolder = root + "work/Snapshot/";
  const std::string copies = root + "work/Copies/";
  const std::vector<std::string> names = WriteTree(install, mib << 20, files, 6);
  WriteTree(root + "new/", mib << 20, files, 7);
  const std::string uninstaller = Script(root + "uninstall.sh", "rm -rf '" + install + "'\n");
  const std::string installer =
      Script(root + "install.sh", "cp -a '" + root + "new/.' '" + install + "'\n");

  std::vector<double> link, copy, uninstall, installTime, restore;
  for (int round = 0; round < rounds; ++round) {
    TInstallSnapshot snapshot(snapshotFolder, install, {});
    TSnapshotCounts counts;
    std::string failed;
    link.push_back(Time([&] { return snapshot.Take(counts, failed) && counts.linked == files; },
                        "the snapshot by links"));
    copy.push_back(Time(
        [&] {
          for (const std::string& name : names) {
            const std::string target = copies + name;
            if (!platform::ForceDirectories(fs::path(target).parent_path().string()) ||
                platform::LinkOrCopyFile(install + name, target, false) !=
                    platform::TPlacement::Copied)
              return false;
          }
          return true;
        },
        "the snapshot by copies"));
    DeleteFolderTree(copies);
    uninstall.push_back(
        Time([&] { return platform::RunAndWait(uninstaller, 0) == 0; }, "the uninstall"));
    installTime.push_back(
        Time([&] { return platform::RunAndWait(installer, 0) == 0; }, "the install"));
    restore.push_back(Time(
        [&] { return snapshot.Restore(counts, failed) && counts.linked == files; }, "the restore"));
    snapshot.Discard();
  }
  fs::remove_all(root);
  std::printf("snapshot.files %d\nsnapshot.mib %lld\nsnapshot.link_ms %.1f\nsnapshot.copy_ms %.1f\n"
              "snapshot.uninstall_ms %.1f\nsnapshot.install_ms %.1f\nsnapshot.restore_ms %.1f\n",
              files, static_cast<long long>(mib), Median(link), Median(copy), Median(uninstall),
              Median(installTime), Median(restore));
  return 0;
}
