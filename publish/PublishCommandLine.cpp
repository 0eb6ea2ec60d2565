#include "publish/PublishCommandLine.h"

#include "common/IntegerText.h"
#include "common/ProductTable.h"
#include "platform/CodePage.h"
#include "platform/TextFormat.h"
#include "publish/PublishErrors.h"
#include "publish/PublishTexts.h"

#include <algorithm>
#include <map>

namespace {

namespace tx = publishtexts;

const platform::AnsiText kOverview{
    "用法：update-publish <命令> [选项]\n"
    "\n"
    "  program   发布程序的新版本：安装包、SHA256、签名和版本文件\n"
    "  template  发布示范文本的新版本\n"
    "  rollout   调整一个已发布版本的推送比例\n"
    "  check     像客户端一样读取更新服务器上的每个版本文件，检查每个条目\n"
    "  sign      打印一个文件的 SHA256 和签名，供手工编辑版本文件\n"
    "\n"
    "每个命令的选项：update-publish <命令> --help\n"};

const platform::AnsiText kProgramUsage{
    "用法：update-publish program --server 目录 --kind 招标工具|投标工具 --version 版本号\n"
    "         --path 子目录 [--region 地区] [--mandatory] [--notes 文件] [--key 私钥.pem]\n"
    "         [--rollout 百分比] [--expires 天数] 安装包\n"
    "\n"
    "把安装包复制为 <目录>/<产品>/<子目录>/<产品>.exe，计算 SHA256（有私钥时还有签名），\n"
    "再替换或添加 <目录>/<产品>/Version.xml 中该地区的条目；其他条目、注释和编码保持不变。\n"
    "先写安装包，最后写版本文件，中途中断时客户端看到的仍是旧版本。\n"
    "\n"
    "  --server    更新服务器的根目录（须已存在）\n"
    "  --kind      产品：招标工具 或 投标工具\n"
    "  --version   新版本号，须大于该地区条目的当前版本\n"
    "  --path      安装包的子目录（VersionPath）；已发布的文件不会改变，每个版本用新的子目录\n"
    "  --region    地区（条目的 Name），与客户端的 Region.ini 一致；默认为空\n"
    "  --mandatory 强制更新（MustUpdate=\"1\"）\n"
    "  --notes     更新说明，UTF-8 文本文件，每行一条\n"
    "  --key       发布者的 Ed25519 私钥（openssl genpkey -algorithm ed25519 -out "
    "publisher.pem），\n"
    "              同时签名安装包和版本文件（Version.xml.sig）\n"
    "  --rollout   先只推送给这个百分比（1-100）的计算机，之后用 rollout 命令提高\n"
    "  --expires   签名版本文件的有效天数（1-3650），默认 30\n"
    "\n"
    "示例：\n"
    "  update-publish program --server /srv/update --kind 招标工具 --version 7 --path V7 \\\n"
    "      --notes 说明.txt --key publisher.pem --rollout 10 招标工具.exe\n"};

const platform::AnsiText kTemplateUsage{
    "用法：update-publish template --server 目录 --kind 招标示范文本|投标示范文本 --name 名称\n"
    "         --version 版本号 --path 子目录 [--set-version] [--key 私钥.pem] [--expires 天数]\n"
    "         文件.sfwb\n"
    "\n"
    "把示范文本复制为 <目录>/<种类>/<子目录>/<名称>.sfwb，并替换或添加\n"
    "<目录>/<种类>/Version.xml 中该名称的条目。示范文本的注释须含 [Region] Version=<版本号>；\n"
    "--set-version 把它写入一个副本再发布，原文件不变。--kind "
    "也可以写产品（招标工具、投标工具）。\n"
    "\n"
    "示例：\n"
    "  update-publish template --server /srv/update --kind 招标示范文本 --name 施工招标 \\\n"
    "      --version 3 --path T3 --set-version 施工招标.sfwb\n"};

const platform::AnsiText kRolloutUsage{
    "用法：update-publish rollout --server 目录 --kind 招标工具|投标工具 [--region 地区]\n"
    "         --percent 百分比 [--key 私钥.pem] [--expires 天数]\n"
    "\n"
    "把该地区条目的推送比例（Rollout）设为 1-100；100 即推送给全部计算机。每台计算机对同一版本\n"
    "的答案不变：已推送给它的，比例提高后仍推送。版本文件已签名时须给出私钥。\n"
    "\n"
    "示例：\n"
    "  update-publish rollout --server /srv/update --kind 招标工具 --percent 50 --key "
    "publisher.pem\n"};

const platform::AnsiText kCheckUsage{
    "用法：update-publish check (--server 目录 | --url 地址 [--cdn-url 地址]) [--public-key 公钥]\n"
    "\n"
    "像客户端一样读取四个版本文件（招标工具、投标工具、招标示范文本、投标示范文本），\n"
    "检查每个条目：文件存在且小于 2 GiB，SHA256 和签名正确，示范文本注释中的版本不低于条目，\n"
    "名称可以用 GBK 表示。给出公钥时，每个条目都须有签名，版本文件也须有有效的签名\n"
    "（到期前 7 天提醒）。公钥可以是 VersionCfg.ini 中的 Base64 文本，也可以是 PEM 文件。\n"
    "--url 对应 URLWithnotCDN（版本文件），--cdn-url 对应 URLUseCDN（安装包和示范文本），\n"
    "默认与 --url 相同。\n"
    "每个问题一行，最后一行是汇总；没有问题时退出码为 0。\n"
    "\n"
    "示例：\n"
    "  update-publish check --url http://update.example.com/update/ --public-key publisher.pem\n"};

const platform::AnsiText kSignUsage{
    "用法：update-publish sign --key 私钥.pem 文件\n"
    "\n"
    "打印文件的 SHA256 和 Signature 属性（粘贴到版本文件的条目中），以及 VersionCfg.ini\n"
    "所需的 PublicKey。\n"
    "\n"
    "示例：\n"
    "  update-publish sign --key publisher.pem 招标工具.exe\n"};

struct TOptionDef {
  const char* name;
  bool takesValue;
  bool required;
};

const std::map<TPublishCommand, std::vector<TOptionDef>>& OptionDefs() {
  static const std::map<TPublishCommand, std::vector<TOptionDef>> defs = {
      {TPublishCommand::Program,
       {{"--server", true, true},
        {"--kind", true, true},
        {"--version", true, true},
        {"--path", true, true},
        {"--region", true, false},
        {"--mandatory", false, false},
        {"--notes", true, false},
        {"--key", true, false},
        {"--rollout", true, false},
        {"--expires", true, false}}},
      {TPublishCommand::Template,
       {{"--server", true, true},
        {"--kind", true, true},
        {"--name", true, true},
        {"--version", true, true},
        {"--path", true, true},
        {"--set-version", false, false},
        {"--key", true, false},
        {"--expires", true, false}}},
      {TPublishCommand::Rollout,
       {{"--server", true, true},
        {"--kind", true, true},
        {"--region", true, false},
        {"--percent", true, true},
        {"--key", true, false},
        {"--expires", true, false}}},
      {TPublishCommand::Check,
       {{"--server", true, false},
        {"--url", true, false},
        {"--cdn-url", true, false},
        {"--public-key", true, false}}},
      {TPublishCommand::Sign, {{"--key", true, true}}},
  };
  return defs;
}

std::optional<TPublishCommand> CommandNamed(const std::string& name) {
  if (name == "program") return TPublishCommand::Program;
  if (name == "template") return TPublishCommand::Template;
  if (name == "rollout") return TPublishCommand::Rollout;
  if (name == "check") return TPublishCommand::Check;
  if (name == "sign") return TPublishCommand::Sign;
  return std::nullopt;
}

bool TakesFile(TPublishCommand command) {
  return command == TPublishCommand::Program || command == TPublishCommand::Template ||
         command == TPublishCommand::Sign;
}

int32_t Number(const std::string& option, const std::string& text, int32_t low, int32_t high) {
  const std::optional<int32_t> value = TextToInt32(text);
  // Only plain decimal digits: "0x10" or "$10" would surprise a publisher.
  const bool digits = !text.empty() && std::all_of(text.begin(), text.end(),
                                                   [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || !value || *value < low || *value > high)
    throw EUsageError(platform::FormatText(tx::kBadNumber, option, text, low, high));
  return *value;
}

std::string ExactName(const std::string& option, const std::string& argument) {
  const std::optional<std::string> ansi = platform::ArgumentToAnsiExact(argument);
  if (!ansi) throw EUsageError(platform::FormatText(tx::kNotGbk, option));
  return *ansi;
}

// A name that becomes a folder or file name on the server and a piece of
// the client's URL, which the client sends unescaped: letters, digits, the
// marks - _ . and double-byte characters; never "." or "..". A '?' is what
// Windows leaves of a character it cannot convert.
std::string ServerName(const std::string& option, const std::string& argument) {
  const std::string name = ExactName(option, argument);
  bool ok = !name.empty() && name != "." && name != "..";
  for (size_t i = 0; ok && i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < name.size()) {
      ++i; // a double-byte character
      continue;
    }
    ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
         c == '_' || c == '.';
  }
  if (!ok) throw EUsageError(platform::FormatText(tx::kBadName, option, name));
  return name;
}

// A region is only ever compared with Region.ini's value; it may hold
// anything a line of that file can, but no control characters, and no '?',
// which is what Windows leaves of a character it cannot convert.
std::string RegionName(const std::string& argument) {
  const std::string region = ExactName("--region", argument);
  for (char c : region)
    if (static_cast<unsigned char>(c) < 0x20 || c == '?' || c == '"')
      throw EUsageError(platform::FormatText(tx::kBadRegion, region));
  return region;
}

std::string ProductKind(const std::string& argument) {
  const std::string kind = platform::ArgumentToAnsiExact(argument).value_or(argument);
  const TProduct* product = ProductOfServerFolder(kind);
  if (product && kind == product->kind.str()) return kind;
  throw EUsageError(platform::FormatText(tx::kBadKind, platform::ArgumentToAnsi(argument)));
}

std::string SampleTextKind(const std::string& argument) {
  const std::string kind = platform::ArgumentToAnsiExact(argument).value_or(argument);
  // The product's kind names its sample texts too.
  if (const TProduct* product = ProductOfServerFolder(kind)) return product->sampleTextKind;
  throw EUsageError(platform::FormatText(tx::kBadTemplateKind, platform::ArgumentToAnsi(argument)));
}

void Apply(TPublishOptions& options, const std::string& option, const std::string& value) {
  if (option == "--server")
    options.server = platform::ArgumentToAnsi(value);
  else if (option == "--url")
    options.url = platform::ArgumentToAnsi(value);
  else if (option == "--cdn-url")
    options.cdnUrl = platform::ArgumentToAnsi(value);
  else if (option == "--kind")
    options.kind =
        options.command == TPublishCommand::Template ? SampleTextKind(value) : ProductKind(value);
  else if (option == "--version")
    options.version = Number(option, value, 1, INT32_MAX);
  else if (option == "--path")
    options.path = ServerName(option, value);
  else if (option == "--region")
    options.region = RegionName(value);
  else if (option == "--name")
    options.name = ServerName(option, value);
  else if (option == "--mandatory")
    options.mandatory = true;
  else if (option == "--set-version")
    options.setVersion = true;
  else if (option == "--notes")
    options.notesFile = platform::ArgumentToAnsi(value);
  else if (option == "--key")
    options.keyFile = platform::ArgumentToAnsi(value);
  else if (option == "--public-key")
    options.publicKey = platform::ArgumentToAnsi(value);
  else if (option == "--rollout" || option == "--percent")
    options.rollout = Number(option, value, 1, 100);
  else if (option == "--expires")
    options.expiresDays = Number(option, value, 1, 3650);
}

} // namespace

TPublishOptions ParsePublishCommandLine(const std::vector<std::string>& args) {
  TPublishOptions options;
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    options.help = true;
    return options;
  }
  const std::optional<TPublishCommand> command = CommandNamed(args[0]);
  if (!command)
    throw EUsageError(platform::FormatText(tx::kUnknownCommand, platform::ArgumentToAnsi(args[0])));
  options.command = *command;
  const std::vector<TOptionDef>& defs = OptionDefs().at(*command);
  std::vector<std::string> seen;
  std::vector<std::string> files;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
    if (arg.rfind("--", 0) != 0 || arg == "--") {
      if (arg == "--") {
        for (size_t j = i + 1; j < args.size(); ++j)
          files.push_back(platform::ArgumentToAnsi(args[j]));
        break;
      }
      files.push_back(platform::ArgumentToAnsi(arg));
      continue;
    }
    std::optional<std::string> value;
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    const auto def =
        std::find_if(defs.begin(), defs.end(), [&](const TOptionDef& s) { return arg == s.name; });
    if (def == defs.end())
      throw EUsageError(
          platform::FormatText(tx::kUnknownOption, platform::ArgumentToAnsi(arg), args[0]));
    if (std::find(seen.begin(), seen.end(), arg) != seen.end())
      throw EUsageError(platform::FormatText(tx::kTwice, arg));
    seen.push_back(arg);
    if (def->takesValue && !value) {
      if (i + 1 >= args.size()) throw EUsageError(platform::FormatText(tx::kMissingValue, arg));
      value = args[++i];
    }
    if (!def->takesValue && value)
      throw EUsageError(platform::FormatText(tx::kUnknownOption, arg + "=", args[0]));
    Apply(options, arg, value.value_or(std::string()));
  }
  for (const TOptionDef& def : defs)
    if (def.required && std::find(seen.begin(), seen.end(), def.name) == seen.end())
      throw EUsageError(platform::FormatText(tx::kMissingOption, def.name));
  if (*command == TPublishCommand::Check && (options.server.empty() == options.url.empty() ||
                                             (!options.cdnUrl.empty() && options.url.empty())))
    throw EUsageError(tx::kServerOrUrl);
  if (TakesFile(*command) ? files.size() != 1 : !files.empty()) throw EUsageError(tx::kOneFile);
  if (!files.empty()) options.file = files[0];
  return options;
}

std::string PublishUsage(TPublishCommand command) {
  switch (command) {
  case TPublishCommand::Help:
    return kOverview;
  case TPublishCommand::Program:
    return kProgramUsage;
  case TPublishCommand::Template:
    return kTemplateUsage;
  case TPublishCommand::Rollout:
    return kRolloutUsage;
  case TPublishCommand::Check:
    return kCheckUsage;
  case TPublishCommand::Sign:
    return kSignUsage;
  }
  return kOverview;
}
