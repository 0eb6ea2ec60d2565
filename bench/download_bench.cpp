// Download throughput: the updater's package transfer (DoneSize persisted at
// every work event) against the curl command line, side by side in one run,
// from nginx on loopback. Cold: no local file. Resumed: half the package on
// disk and DoneSize saying so. Then the package checks: libcrypto's SHA-256
// and SHA-512 on memory, our digest pass and our signature pass over the
// downloaded file, the curve check that is left of the signature once the
// last byte is in (beside libcrypto's whole Ed25519 check of an empty
// message), a cold transfer with both checks on, and the transfer time with
// and without the checks on a link that nginx limits to 100 MB/s.
//
//   download_bench [size-in-MiB] [rounds]        (default 256 MiB, 5 rounds)
//
// nginx's limit_rate lets a request have one second's worth of bytes at
// full speed (it counts whole seconds since the start, plus one), so on the
// limited link a short transfer runs faster than the limit: give 1024 MiB or
// more for figures of that link.
//
// Prints the median MB/s of each contender and their ratio, and checks from
// nginx's log that a resumed transfer fetched only the back-off and the
// missing bytes.
#include "app/PackageCheck.h"
#include "app/UpdateForm.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"
#include "platform/Crypto.h"
#include "platform/Ed25519.h"
#include "platform/Profile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestServers.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs a command; returns its exit code.
int Run(const std::vector<std::string>& argv, const std::string& log) {
  testsupport::ChildProcess p(argv, {}, log);
  return p.WaitFor(std::chrono::minutes(10)).value_or(-1);
}

// The body bytes nginx sent for the last GET, from its combined log format:
//   127.0.0.1 - - [date] "GET /path HTTP/1.1" 206 1234 "-" "-"
long long LastBytesSent(const std::string& accessLog) {
  std::ifstream in(accessLog);
  std::string line, last;
  while (std::getline(in, line))
    if (line.find("\"GET ") != std::string::npos) last = line;
  size_t request = last.find('"');
  size_t end = request == std::string::npos ? request : last.find('"', request + 1);
  int status = 0;
  long long bytes = -1;
  if (end != std::string::npos) std::sscanf(last.c_str() + end + 1, "%d %lld", &status, &bytes);
  return bytes;
}

// The package's attributes and the public key, as update-publish sign prints
// them for `key`.
struct Signed {
  std::string sha256, signature, publicKey;
};

std::string ValueAfter(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  return text.substr(at, text.find_first_of(" \"\n", at) - at);
}

Signed SignPackage(const std::string& root, const std::string& package) {
  const std::string key = root + "/publisher.pem";
  const std::string out = root + "/sign.out";
  if (Run({"/usr/bin/openssl", "genpkey", "-algorithm", "ed25519", "-out", key}, out) != 0 ||
      Run({UPDATER_PUBLISH_PROGRAM, "sign", "--key", key, package}, out) != 0)
    return {};
  const std::string text = testsupport::ReadFile(out);
  return {ValueAfter(text, "SHA256=\""), ValueAfter(text, "Signature=\""),
          ValueAfter(text, "PublicKey=")};
}

// MB/s of `run` over `bytes` by this process's processor time, the median
// of `rounds`: other programs that share the processors do not count, as in
// `openssl speed`.
template <class F> double MedianSpeed(long long bytes, int rounds, F run) {
  std::vector<double> seconds;
  for (int i = 0; i < rounds; ++i) {
    const std::clock_t start = std::clock();
    run();
    seconds.push_back(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  return static_cast<double>(bytes) / 1e6 / Median(seconds);
}

} // namespace

int main(int argc, char** argv) {
  const long long mib = argc > 1 ? std::atoll(argv[1]) : 256;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const long long size = mib << 20;

  std::string root = (fs::temp_directory_path() / "download-bench-XXXXXX").string();
  if (!::mkdtemp(root.data())) return 1;
  const std::string kind = platform::Utf8ToAnsi("招标工具");
  const std::string packageDir = root + "/www/" + kind + "/V7";
  fs::create_directories(packageDir);
  fs::create_directories(root + "/exe");
  fs::create_directories(root + "/tmp");
  fs::create_directories(root + "/curl");
  {
    std::mt19937_64 random(5);
    std::vector<uint64_t> block(1 << 17);
    std::ofstream out(packageDir + "/" + kind + ".exe", std::ios::binary);
    for (long long done = 0; done < size; done += static_cast<long long>(block.size() * 8)) {
      for (auto& w : block)
        w = random();
      out.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(std::min<long long>(size - done, block.size() * 8)));
    }
  }
  const std::string package = packageDir + "/" + kind + ".exe";
  testsupport::NginxServer nginx(root + "/www", root + "/nginx", "");
  const std::string url = nginx.BaseUrl();
  const std::string packageUrl = url + "%D5%D0%B1%EA%B9%A4%BE%DF/V7/%D5%D0%B1%EA%B9%A4%BE%DF.exe";
  std::ofstream(root + "/exe/VersionCfg.ini")
      << "[Version]\r\nCurVersion=1\r\n[HTTP]\r\nURLUseCDN=" << url << "\r\nURLWithnotCDN=" << url
      << "\r\nDoneSize=0\r\n";
  ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);

  const std::string local = root + "/tmp/MQTUpdate/" + platform::AnsiToUtf8(kind) + ".exe";
  const std::string curlFile = root + "/curl/package.exe";
  const long long half = size / 2;
  auto halfFile = [&](const std::string& path) {
    fs::resize_file(path, static_cast<uintmax_t>(half));
  };

  std::vector<double> oursCold, curlCold, oursResumed, curlResumed;
  long long resumedFetched = 0;
  for (int round = 0; round < rounds; ++round) {
    // Cold.
    fs::remove_all(root + "/tmp/MQTUpdate");
    TUpdateForm form({"-ZB"}, root + "/exe/");
    form.packagePath = "V7";
    auto start = Clock::now();
    bool ok = form.DownloadPackage(nullptr);
    oursCold.push_back(Seconds(start));
    fs::remove(curlFile);
    start = Clock::now();
    int rc = Run({"/usr/bin/curl", "-s", "-o", curlFile, packageUrl}, root + "/curl.log");
    curlCold.push_back(Seconds(start));
    if (!ok || rc != 0 || fs::file_size(local) != static_cast<uintmax_t>(size) ||
        fs::file_size(curlFile) != static_cast<uintmax_t>(size)) {
      std::fprintf(stderr, "cold transfer failed\n");
      return 1;
    }

    // Resumed from the middle.
    halfFile(local);
    platform::WriteProfileString(root + "/exe/VersionCfg.ini", "HTTP", "DoneSize",
                                 std::to_string(half));
    start = Clock::now();
    ok = form.DownloadPackage(nullptr);
    oursResumed.push_back(Seconds(start));
    resumedFetched = LastBytesSent(root + "/nginx/access.log");
    halfFile(curlFile);
    start = Clock::now();
    rc = Run({"/usr/bin/curl", "-s", "-C", "-", "-o", curlFile, packageUrl}, root + "/curl.log");
    curlResumed.push_back(Seconds(start));
    if (!ok || rc != 0 || fs::file_size(curlFile) != static_cast<uintmax_t>(size)) {
      std::fprintf(stderr, "resumed transfer failed\n");
      return 1;
    }
  }

  const double mb = static_cast<double>(size) / 1e6;
  const double oc = mb / Median(oursCold), cc = mb / Median(curlCold);
  const double rmb = static_cast<double>(size - half) / 1e6;
  const double orr = rmb / Median(oursResumed), cr = rmb / Median(curlResumed);
  std::printf("download of %lld MiB from nginx on loopback, median of %d rounds\n", mib, rounds);
  std::printf("| transfer | ours MB/s | curl MB/s | ours / curl |\n|---|---|---|---|\n");
  std::printf("| cold | %.0f | %.0f | %.2f |\n", oc, cc, oc / cc);
  std::printf("| resumed from the middle | %.0f | %.0f | %.2f |\n", orr, cr, orr / cr);
  std::printf("resumed transfer fetched %lld bytes: the back-off (40000) plus the missing %lld\n",
              resumedFetched, size - half);

  // The checks.
  const Signed sig = SignPackage(root, package);
  if (sig.signature.empty()) {
    std::fprintf(stderr, "update-publish sign failed\n");
    return 1;
  }
  {
    std::vector<char> memory(64 << 20, 'x');
    auto onMemory = [&](auto& hasher) {
      return MedianSpeed(static_cast<long long>(memory.size()), rounds, [&] {
        for (size_t at = 0; at < memory.size(); at += 1 << 20)
          hasher.Update(memory.data() + at, 1 << 20);
        hasher.Final();
      });
    };
    platform::TSha256 sha256;
    platform::TSha512 sha512;
    const double raw256 = onMemory(sha256);
    const double raw512 = onMemory(sha512);
    bool intact = true;
    const double pass = MedianSpeed(size, rounds, [&] {
      TPackageCheck check(sig.sha256, std::nullopt, "", platform::Utf8ToAnsi(local));
      intact = intact && check.Verify() == TPackageFault::None;
    });
    const double signature = MedianSpeed(size, rounds, [&] {
      TPackageCheck check(std::nullopt, sig.signature, sig.publicKey, platform::Utf8ToAnsi(local));
      intact = intact && check.Verify() == TPackageFault::None;
    });
    if (!intact) {
      std::fprintf(stderr, "the downloaded package fails its checks\n");
      return 1;
    }
    std::printf("\n| hashing (processor time) | MB/s |\n|---|---|\n");
    std::printf("| libcrypto SHA-256 on memory | %.0f |\n", raw256);
    std::printf("| libcrypto SHA-512 on memory | %.0f |\n", raw512);
    std::printf("| our SHA-256 pass over the downloaded file | %.0f |\n", pass);
    std::printf("| our signature pass (SHA-512, curve check) over the file | %.0f |\n", signature);
  }
  {
    // What is left after the last byte: the curve check, on a genuine
    // signature of a tiny package, beside libcrypto's whole check of it.
    const std::string tiny = "abc";
    std::ofstream(root + "/tiny.exe", std::ios::binary) << tiny;
    const Signed tinySig = SignPackage(root, root + "/tiny.exe");
    TXMLBinary key, signature;
    if (!Base64TextToBytes(tinySig.publicKey, key) ||
        !Base64TextToBytes(tinySig.signature, signature) || !key || !signature ||
        key->size() != 32 || signature->size() != 64) {
      std::fprintf(stderr, "update-publish sign printed no usable key or signature\n");
      return 1;
    }
    platform::TEd25519PublicKey publicKey{};
    platform::TEd25519Signature rs{};
    std::copy(key->begin(), key->end(), publicKey.begin());
    std::copy(signature->begin(), signature->end(), rs.begin());
    platform::TSha512 hasher;
    hasher.Update(rs.data(), 32);
    hasher.Update(publicKey.data(), publicKey.size());
    hasher.Update(tiny.data(), tiny.size());
    const platform::TSha512Digest digest = hasher.Final();

    constexpr int kChecks = 200;
    bool valid = true;
    const double ours = MedianSpeed(kChecks, rounds, [&] {
      for (int i = 0; i < kChecks; ++i)
        valid = platform::CheckEd25519Equation(publicKey, rs, digest) && valid;
    });
    EVP_PKEY* pkey =
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size());
    const double libcrypto = MedianSpeed(kChecks, rounds, [&] {
      for (int i = 0; i < kChecks; ++i) {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        valid = pkey && EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, pkey) == 1 &&
                EVP_DigestVerify(ctx, rs.data(), rs.size(),
                                 reinterpret_cast<const unsigned char*>(tiny.data()),
                                 tiny.size()) == 1 &&
                valid;
        EVP_MD_CTX_free(ctx);
      }
    });
    EVP_PKEY_free(pkey);
    if (!valid) {
      std::fprintf(stderr, "the signature of the tiny package does not verify\n");
      return 1;
    }
    // MedianSpeed counts "MB" of 1e6 units: here checks, so 1 / speed is
    // the microseconds of one check.
    std::printf("\n| after the last byte (processor time) | microseconds |\n|---|---|\n");
    std::printf("| our curve check | %.0f |\n", 1 / ours);
    std::printf("| libcrypto's whole Ed25519 check of a 3-byte message | %.0f |\n", 1 / libcrypto);
  }

  // A transfer with the checks the manifest and the configuration ask for:
  // its seconds, negative when it failed, and this process's processor
  // seconds in it.
  struct Timing {
    double seconds, processor;
  };
  auto checkedTransfer = [&](const std::string& base, bool sha256, bool signature) -> Timing {
    fs::remove_all(root + "/tmp/MQTUpdate");
    const std::string config = root + "/exe/VersionCfg.ini";
    platform::WriteProfileString(config, "HTTP", "URLUseCDN", base);
    platform::WriteProfileString(config, "Security", "PublicKey", signature ? sig.publicKey : "");
    TUpdateForm form({"-ZB"}, root + "/exe/");
    form.packagePath = "V7";
    if (sha256) form.packageSha256 = sig.sha256;
    if (signature) form.packageSignature = sig.signature;
    const auto start = Clock::now();
    const std::clock_t processorStart = std::clock();
    try {
      if (!form.DownloadPackage(nullptr)) return {-1.0, 0.0};
    } catch (const EPackageRefused&) {
      return {-1.0, 0.0};
    }
    return {Seconds(start), static_cast<double>(std::clock() - processorStart) / CLOCKS_PER_SEC};
  };
  std::vector<double> checkedCold;
  for (int round = 0; round < rounds; ++round)
    checkedCold.push_back(checkedTransfer(url, true, true).seconds);
  std::printf("\n| transfer | ours MB/s | curl MB/s | ours / curl |\n|---|---|---|---|\n");
  std::printf("| cold, SHA256 and Signature checked | %.0f | %.0f | %.2f |\n",
              mb / Median(checkedCold), cc, mb / Median(checkedCold) / cc);

  testsupport::NginxServer limited(root + "/www", root + "/nginx-limited",
                                   "    limit_rate 100000000;");
  struct Row {
    const char* checks;
    bool sha256, signature;
    std::vector<double> seconds, processor;
  } rows[] = {{"none", false, false, {}, {}},
              {"SHA256", true, false, {}, {}},
              {"SHA256 and Signature", true, true, {}, {}}};
  // Each round starts with another row, so that no row always follows the
  // same one (the machine's state after a transfer falls on all alike).
  constexpr int kRows = sizeof rows / sizeof rows[0];
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < kRows; ++i) {
      Row& row = rows[(round + i) % kRows];
      const Timing t = checkedTransfer(limited.BaseUrl(), row.sha256, row.signature);
      row.seconds.push_back(t.seconds);
      row.processor.push_back(t.processor);
    }
  }
  std::printf("\non a link limited to 100 MB/s (nginx limit_rate), median of %d rounds\n", rounds);
  // The fastest round beside the median: other programs on the machine
  // only ever make a round slower.
  std::printf("| checks | seconds | added | fastest | added | processor seconds |\n"
              "|---|---|---|---|---|---|\n");
  const double plain = Median(rows[0].seconds);
  const double plainFastest = *std::min_element(rows[0].seconds.begin(), rows[0].seconds.end());
  bool failed = false;
  for (const Row& row : rows) {
    const double t = Median(row.seconds);
    const double fastest = *std::min_element(row.seconds.begin(), row.seconds.end());
    failed = failed || fastest < 0;
    std::printf("| %s | %.3f | %+.1f%% | %.3f | %+.1f%% | %.2f |\n", row.checks, t,
                (t / plain - 1) * 100, fastest, (fastest / plainFastest - 1) * 100,
                Median(row.processor));
  }
  fs::remove_all(root);
  if (failed || *std::min_element(checkedCold.begin(), checkedCold.end()) < 0) {
    std::fprintf(stderr, "a checked transfer failed\n");
    return 1;
  }
  return resumedFetched == size - half + 40000 ? 0 : 2;
}
