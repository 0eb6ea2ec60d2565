#pragma once
// The fixed texts of the update window, converted once to ANSI.
#include "platform/CodePage.h"

namespace updatetexts {

inline const platform::AnsiText kShanghai{"上海"};
inline const platform::AnsiText kInstallKey{"SOFTWARE\\Zorva编标工具\\6.0"};

// The manifest and the check.
inline const platform::AnsiText kReleaseNotesHeading{"%s升级内容："};
inline const platform::AnsiText kOfferText{"检测到新版本V%d，是否下载更新？"};
inline const platform::AnsiText kManifestTooLarge{"版本文件超过 %d 字节，已停止接收"};

// Signed manifests: the window shows the first text alone, standard error
// and the log add the reason.
inline const platform::AnsiText kManifestRefused{"更新信息签名无效，已忽略。"};
inline const platform::AnsiText kManifestBadKey{
    "VersionCfg.ini 中的发布者公钥（[Security] PublicKey）无效。"};
inline const platform::AnsiText kManifestUnsigned{"服务器上没有它的签名（%s）。"};
inline const platform::AnsiText kManifestBadSignature{"签名与内容不符。"};
inline const platform::AnsiText kManifestNoExpiry{"它没有有效期（Expires）。"};
inline const platform::AnsiText kManifestExpired{"它已于 %s 过期。"};

// The window.
inline const platform::AnsiText kAppTitle{"在线升级"};
inline const platform::AnsiText kDownloading{"正在下载更新. . ."};
inline const platform::AnsiText kNetworkError{"网络连接出错，无法检测更新。"};
inline const platform::AnsiText kReadyToInstall{"新版本下载完成，请先关闭%s后，点击确定进行安装。"};

// The transfer.
inline const platform::AnsiText kSpeedText{"下载速度：%.2fKB/s"};
inline const platform::AnsiText kSlowQuestion{"检测到您的下载速度过慢，是否继续下载？"};
inline const platform::AnsiText kPackageTooLarge{
    "安装包大小为 %lld 字节，超出了可下载的上限（2 GB），无法下载。"};

// The package checks.
inline const platform::AnsiText kPackageCorrupt{"下载的文件已损坏，请重新下载。"};
inline const platform::AnsiText kSignatureInvalid{"安装包签名无效，已拒绝安装。"};

// Errors of the run, as the error box, standard error and the log show them.
inline const platform::AnsiText kServerUnreachable{"无法连接到更新服务器：%s"};
inline const platform::AnsiText kTransferIncomplete{
    "下载未完成：已收到 %lld 字节，服务器声明的大小为 %lld 字节。"};
inline const platform::AnsiText kNoPackagePath{"版本信息中没有下载路径（VersionPath），无法下载。"};
inline const platform::AnsiText kFileWriteFailed{"无法写入文件“%s”，请检查权限和磁盘空间。"};
inline const platform::AnsiText kBadTemplateName{"模板名称无效：%s"};
inline const platform::AnsiText kBadPackagePath{"版本信息中的下载路径（VersionPath）无效：%s"};
inline const platform::AnsiText kNoDisplay{"无法显示在线升级窗口：没有可用的显示器（DISPLAY）。"};

// The installation.
inline const platform::AnsiText kInstallRefused{
    "无法安装：您有%s在运行中，请先保存您的工程并关闭%s，再进行安装。"};
inline const platform::AnsiText kNoInstaller{"未找到安装程序，请重新下载。"};
inline const platform::AnsiText kInstallFailed{"安装未完成（错误代码 %d），请重试。"};
inline const platform::AnsiText kStartMenuFolder{
    "C:\\Documents and Settings\\All Users\\「开始」菜单\\程序\\Zorva电子%s"};
inline const platform::AnsiText kUninstallPattern{"卸载 *.*"};

// The reinstall that can be undone, and the one updater per working folder.
inline const platform::AnsiText kInstallRestored{
    "安装未完成（错误代码 %d），已恢复原版本，请重试。"};
inline const platform::AnsiText kSnapshotNoSpace{"磁盘空间不足，无法备份当前版本，未进行安装。"};
inline const platform::AnsiText kRestoreFailed{
    "无法恢复原版本：“%s”无法写入。请检查权限和磁盘空间，然后重新启动在线升级。"};
inline const platform::AnsiText kUpdaterBusy{"在线升级已在运行。"};

} // namespace updatetexts
