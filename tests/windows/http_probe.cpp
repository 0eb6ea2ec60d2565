// A Windows program for the tests under Wine: downloads URL into FILE with
// the platform's HTTP client and prints one line per work event,
// "<milliseconds since the start> <bytes>", then "end <bytes in FILE>" or
// "error <text>". With DISCONNECT-AT it disconnects from the work event once
// that many bytes are in. With --reach it asks whether the server of URL can
// be reached within LIMIT milliseconds and prints "reach <0|1> <milliseconds
// taken>".
#include "platform/HttpClient.h"
#include "platform/Stream.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  if (argc == 4 && std::string(argv[1]) == "--reach") {
    const bool reached = platform::CanConnectTo(argv[2], std::atoi(argv[3]));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::printf("reach %d %lld\n", reached ? 1 : 0, static_cast<long long>(ms.count()));
    return 0;
  }
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: http_probe URL FILE [DISCONNECT-AT] | --reach URL LIMIT\n");
    return 2;
  }
  const long long disconnectAt = argc == 4 ? std::atoll(argv[3]) : -1;
  try {
    TFileStream file(argv[2], fmCreate);
    platform::THttpClient client;
    client.SetReadTimeout(6000);
    client.SetOnWork([&](platform::THttpClient& sender, int64_t count) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      std::printf("%lld %lld\n", static_cast<long long>(ms.count()), static_cast<long long>(count));
      std::fflush(stdout);
      if (disconnectAt >= 0 && count >= disconnectAt) sender.Disconnect();
    });
    client.Get(argv[1], file);
    std::printf("end %lld\n", static_cast<long long>(file.GetSize()));
  } catch (const std::exception& e) {
    std::printf("error %s\n", e.what());
    return 1;
  }
  return 0;
}
