// Shows one message box of ZorvaUiUtils and prints what it answered, for the
// tests that run it under a virtual display. Arguments are UTF-8:
//   message_box_probe ask <with cancel 0|1> <default button> <text>
//   message_box_probe info <text>
//   message_box_probe task|classic <caption> <icon id> <button set> <text>
// "classic" shows the message box that stands in where there is no task
// dialog. Prints "result=<n>" (ShowInformation: "result=none").
#include "common/ZorvaUiUtils.h"
#include "platform/CodePage.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const std::string call = argc > 1 ? argv[1] : "";
  auto arg = [&](int i) { return std::string(i < argc ? argv[i] : ""); };
  auto ansi = [&](int i) { return platform::Utf8ToAnsi(arg(i)); };

  if (call == "ask" && argc == 5) {
    int32_t r = AskConfirmation(ansi(4), arg(2) == "1", std::atoi(argv[3]));
    std::printf("result=%d\n", r);
  } else if (call == "info" && argc == 3) {
    ShowInformation(ansi(2));
    std::printf("result=none\n");
  } else if ((call == "task" || call == "classic") && argc == 6) {
    SetUseTaskDialogs(call == "task");
    int32_t r = ShowTaskMessage(ansi(5), ansi(2), std::atoi(argv[3]), std::atoi(argv[4]));
    std::printf("result=%d\n", r);
  } else {
    std::fprintf(stderr, "usage: see the comment at the top of message_box_probe.cpp\n");
    return 2;
  }
  return 0;
}
