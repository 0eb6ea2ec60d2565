#pragma once
// The command line of update-publish: a command, then its options and its
// file. Names that reach the server (kind, region, template name, path) are
// converted to GBK exactly and checked here; file paths are ANSI paths.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class TPublishCommand { Help, Program, Template, Rollout, Check, Sign };

struct TPublishOptions {
  TPublishCommand command = TPublishCommand::Help;
  // With --help: the command whose help is asked for (Help: the overview).
  bool help = false;
  std::string server; // the tree's root
  std::string url;    // or its base URL (check)
  std::string cdnUrl; // the packages' base URL, when not the same (check)
  // The server folder: a product kind, or a sample-text kind for templates.
  std::string kind;
  int32_t version = 0;
  std::string path;   // VersionPath
  std::string region; // Name of a program entry
  std::string name;   // Name of a template entry
  bool mandatory = false;
  bool setVersion = false;
  std::string notesFile;
  std::string keyFile;
  std::string publicKey; // check: Base64, or a PEM file
  std::optional<int32_t> rollout;
  int32_t expiresDays = 30;
  std::string file; // the installer, the template, the file to sign
};

// `args` are the arguments after the program name as the system hands them
// over. Raises EUsageError with the reason for the user.
TPublishOptions ParsePublishCommandLine(const std::vector<std::string>& args);

// The help of a command (Help: the overview), ANSI.
std::string PublishUsage(TPublishCommand command);
