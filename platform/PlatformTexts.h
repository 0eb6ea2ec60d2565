#pragma once
// The texts of the platform layer's errors, for its POSIX and its Windows
// halves alike, converted once to ANSI.
#include "platform/CodePage.h"

namespace platform::texts {

// Streams and files.
inline const AnsiText kCannotCreate{"无法创建文件"};
inline const AnsiText kCannotOpen{"无法打开文件"};
inline const AnsiText kNotRegularFile{"不是普通文件"};
inline const AnsiText kSeekFailed{"文件定位失败: "};
inline const AnsiText kResizeFailed{"无法改变文件大小: "};
inline const AnsiText kSeekOutOfRange{"流的定位超出范围"};
inline const AnsiText kSizeOutOfRange{"流的大小超出范围"};
inline const AnsiText kNegativeSize{"流的大小不能为负"};

// Folders.
inline const AnsiText kFolderIsSymbolicLink{"文件夹“%s”是一个符号链接，出于安全考虑拒绝使用。"};
inline const AnsiText kFolderIsLinkOrJunction{
    "文件夹“%s”是一个链接或连接点，出于安全考虑拒绝使用。"};
inline const AnsiText kFolderOfOtherUser{"文件夹“%s”属于其他用户，出于安全考虑拒绝使用。"};
inline const AnsiText kFolderNotFolder{"“%s”不是文件夹。"};
inline const AnsiText kFolderNotCreated{"无法创建文件夹“%s”：%s"};

// The HTTP client.
inline const AnsiText kConnectFailed{"无法连接服务器 %s：%s"};
inline const AnsiText kStatusError{"服务器 %s 返回错误：HTTP %d"};
inline const AnsiText kReadTimedOut{"服务器 %s 超过 %d 毫秒没有响应"};
inline const AnsiText kTransferFailed{"从服务器 %s 接收数据失败：%s"};
inline const AnsiText kRangeMismatch{"服务器 %s 返回的数据范围与请求不符"};
inline const AnsiText kClosedEarly{"连接在数据传完之前被关闭"};
inline const AnsiText kBadUrl{"地址无效"};

// The working folder's lock and shortcuts.
inline const AnsiText kLockNotMade{"无法锁定工作文件夹（“%s”）：%s"};
inline const AnsiText kShortcutUnreadable{"无法读取快捷方式“%s”。"};

} // namespace platform::texts
