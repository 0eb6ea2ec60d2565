#pragma once
// The texts of the publishing program, converted once to ANSI.
#include "platform/CodePage.h"

namespace publishtexts {

// The command line.
inline const platform::AnsiText kUnknownCommand{
    "未知的命令“%s”。用 update-publish --help 查看用法。"};
inline const platform::AnsiText kUnknownOption{
    "未知的选项“%s”。用 update-publish %s --help 查看用法。"};
inline const platform::AnsiText kMissingValue{"选项 %s 缺少值。"};
inline const platform::AnsiText kMissingOption{"缺少选项 %s。"};
inline const platform::AnsiText kTwice{"选项 %s 只能给出一次。"};
inline const platform::AnsiText kBadNumber{"选项 %s 的值“%s”必须是 %d 到 %d 之间的整数。"};
inline const platform::AnsiText kOneFile{"需要正好一个文件参数。"};
inline const platform::AnsiText kServerOrUrl{
    "请给出 --server 或 --url 其中之一；--cdn-url 只能与 --url 一起用。"};
inline const platform::AnsiText kBadKind{"产品必须是 招标工具 或 投标工具，而不是“%s”。"};
inline const platform::AnsiText kBadTemplateKind{
    "示范文本的种类必须是 招标示范文本、投标示范文本、招标工具 或 投标工具，而不是“%s”。"};
inline const platform::AnsiText kNotGbk{"%s 的值含有 GBK 无法表示的字符，客户端无法使用它。"};
inline const platform::AnsiText kBadName{
    "%s 的值“%s”不能用作服务器上的名称：只能用字母、数字、汉字和 - _ .，且不能是 . 或 ..。"};
inline const platform::AnsiText kBadRegion{"地区名称“%s”含有控制字符、引号或问号。"};

// Files.
inline const platform::AnsiText kServerMissing{"更新服务器目录“%s”不存在。"};
inline const platform::AnsiText kSourceMissing{"找不到文件“%s”。"};
inline const platform::AnsiText kPackageTooLarge{
    "“%s”有 %lld 字节；安装包必须小于 2 GiB（2147483648 字节）。"};
inline const platform::AnsiText kSourceChanged{"“%s”在复制过程中发生了变化，请重试。"};
inline const platform::AnsiText kNotesNotGbk{"更新说明“%s”的第 %d 行含有 GBK 无法表示的字符。"};

// The keys.
inline const platform::AnsiText kKeyEncrypted{"私钥“%s”已加密；请先用 openssl pkey 去掉密码。"};
inline const platform::AnsiText kKeyNotEd25519{
    "“%s”不是 PEM 格式的 Ed25519 私钥（用 openssl genpkey -algorithm ed25519 生成）。"};
inline const platform::AnsiText kPublicKeyBad{
    "“%s”既不是 Base64 的 Ed25519 公钥，也不是含有公钥或私钥的 PEM 文件。"};

// Refusals of a publish: nothing has been written.
inline const platform::AnsiText kManifestUnreadable{"版本文件“%s”无法解析：%s"};
inline const platform::AnsiText kManifestLossy{
    "版本文件“%s”含有 GBK 无法表示的字符，改写会丢失它们；请先改正。"};
inline const platform::AnsiText kDuplicateEntries{
    "版本文件“%s”中有 %d 个名称为“%s”的条目；请先合并为一个。"};
inline const platform::AnsiText kVersionNotAbove{"版本 %d 不大于“%s”条目的当前版本 %d。"};
inline const platform::AnsiText kPathTaken{
    "“%s”已经存在且内容不同：已发布的文件不能改变，请换一个 --path。"};
inline const platform::AnsiText kSignedTreeNeedsKey{
    "“%s”已有签名文件 Version.xml.sig；请用 --key 给出发布者私钥，否则客户端会拒绝新的版本文件。"};
inline const platform::AnsiText kNoManifest{"没有版本文件“%s”。"};
inline const platform::AnsiText kNoEntry{"版本文件“%s”中没有名称为“%s”的条目。"};
inline const platform::AnsiText kCommentVersion{
    "“%s”的注释中 [Region] Version 是“%s”，而要发布的版本是 %d；可用 --set-version 写入一个副本。"};
inline const platform::AnsiText kNotTemplate{"“%s”不是 zip 格式的示范文本。"};
inline const platform::AnsiText kRewriteLost{"改写后的版本文件读不回刚写入的条目，已停止。"};

// Results.
inline const platform::AnsiText kPublished{"已发布 %s 版本 %d，条目“%s”："};
inline const platform::AnsiText kPublishedFile{"  文件     %s%s"};
inline const platform::AnsiText kAlreadyThere{"（已存在，内容相同）"};
inline const platform::AnsiText kPublishedSha256{"  SHA256   %s"};
inline const platform::AnsiText kPublishedManifest{"  版本文件 %s"};
inline const platform::AnsiText kPublishedSignature{"  签名     %s，有效期至 %s"};
inline const platform::AnsiText kPublishedRollout{"  推送比例 %d%%"};
inline const platform::AnsiText kRolloutSet{"已把“%s”条目（版本 %d）的推送比例设为 %d%%：%s"};
inline const platform::AnsiText kPublicKeyLine{"VersionCfg.ini 的 [Security] 节：PublicKey=%s"};

// The checker.
inline const platform::AnsiText kEmptyName{"（空）"};
inline const platform::AnsiText kCheckNoManifest{"在“%s”下没有找到任何版本文件。"};
inline const platform::AnsiText kCheckFetchFailed{"%s：无法读取：%s"};
inline const platform::AnsiText kCheckUnreadable{"%s：无法解析：%s"};
inline const platform::AnsiText kCheckSignatureMissing{"%s：没有签名文件 Version.xml.sig。"};
inline const platform::AnsiText kCheckSignatureInvalid{"%s：签名文件中没有它的签名。"};
inline const platform::AnsiText kCheckNoExpiry{"%s：已签名，但没有有效期（Expires）。"};
inline const platform::AnsiText kCheckExpired{"%s：已于 %s 过期。"};
inline const platform::AnsiText kCheckExpiresSoon{
    "注意：%s 将于 %s 过期；重新发布或调整推送比例时会重新签名。"};
inline const platform::AnsiText kCheckNotGbk{"%s：条目“%s”的名称含有 GBK 无法表示的字符。"};
inline const platform::AnsiText kCheckBadVersion{"%s：条目“%s”的 Version 不是正整数。"};
inline const platform::AnsiText kCheckNoPath{"%s：条目“%s”没有 VersionPath。"};
inline const platform::AnsiText kCheckMissing{"%s：条目“%s”：%s 不存在：%s"};
inline const platform::AnsiText kCheckTooLarge{"%s：条目“%s”：%s 有 %lld 字节，不小于 2 GiB。"};
inline const platform::AnsiText kCheckBadDigestText{
    "%s：条目“%s”：SHA256 不是 64 位十六进制数字。"};
inline const platform::AnsiText kCheckDigestMismatch{"%s：条目“%s”：%s 与条目的 SHA256 不符。"};
inline const platform::AnsiText kCheckNoSignature{"%s：条目“%s”：缺少安装包签名（Signature）。"};
inline const platform::AnsiText kCheckBadSignature{"%s：条目“%s”：%s 的签名无效。"};
inline const platform::AnsiText kCheckCommentBehind{
    "%s：条目“%s”：%s 注释中的版本 %d 低于条目的版本 %d，客户端会反复下载它。"};
inline const platform::AnsiText kCheckCommentBad{"%s：条目“%s”：%s 注释中的版本“%s”不是整数。"};
inline const platform::AnsiText kCheckCannotSeek{"下载的数据只能从头到尾依次接收。"};
inline const platform::AnsiText kCheckSummaryGood{"已检查 %d 个版本文件、%d 个条目：全部正常。"};
inline const platform::AnsiText kCheckSummaryBad{
    "已检查 %d 个版本文件、%d 个条目：发现 %d 个问题。"};

} // namespace publishtexts
