#pragma once
// What an earlier run of the transfer leaves beside a partial file, for tests
// that lay out a working folder by hand: the record naming the resource as
// the server describes it now.
#include "app/DownloadRecord.h"
#include "platform/HttpClient.h"

#include <gtest/gtest.h>

#include <string>

namespace recordtest {

// The installer's path below a base URL, as the transfer asks for it.
inline const char* const kInstallerPath =
    "%D5%D0%B1%EA%B9%A4%BE%DF/V7/%D5%D0%B1%EA%B9%A4%BE%DF.exe";

// The record of `url` for the local file `localFileAnsi`, with the length
// and validator that a HEAD reports now.
inline void LeaveRecord(const std::string& localFileAnsi, const std::string& url) {
  platform::THttpClient client;
  client.Head(url);
  ASSERT_TRUE(
      WriteDownloadRecord(localFileAnsi, {url, client.ContentLength(),
                                          ChooseValidator(client.ETag(), client.LastModified())}));
}

} // namespace recordtest
