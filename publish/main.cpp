// update-publish: the publisher's side of the updater. It writes an update
// server's tree (packages, manifests, signatures) and checks one, on the
// updater's own libraries.
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"
#include "publish/Console.h"
#include "publish/PublishCommandLine.h"
#include "publish/PublishErrors.h"
#include "publish/Publisher.h"
#include "publish/TreeCheck.h"

#include <exception>
#include <string>
#include <vector>

namespace {

int Run(const TPublishOptions& options) {
  if (options.help) {
    std::fputs(platform::AnsiToConsole(PublishUsage(options.command)).c_str(), stdout);
    return 0;
  }
  switch (options.command) {
  case TPublishCommand::Help:
    return 0;
  case TPublishCommand::Program:
  case TPublishCommand::Template:
    return RunPublish(options);
  case TPublishCommand::Rollout:
    return RunRollout(options);
  case TPublishCommand::Check:
    return RunCheck(options);
  case TPublishCommand::Sign:
    return RunSign(options);
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  // Numbers in XML text follow the user's locale, as in the updater.
  CaptureXmlDecimalSeparator();
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Run(ParsePublishCommandLine(args));
  } catch (const EUsageError& e) {
    PrintError(e.what());
    return static_cast<int>(TPublishStatus::InvalidArguments);
  } catch (const EPublishRefused& e) {
    PrintError(e.what());
    return static_cast<int>(TPublishStatus::Refused);
  } catch (const std::exception& e) {
    PrintError(e.what());
    return static_cast<int>(TPublishStatus::Error);
  }
}
