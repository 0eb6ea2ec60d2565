// The names of the temporary files that an interrupted atomic replacement
// leaves beside its target, which a restore clears away.
#include "platform/AtomicFile.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(AtomicFile, LeftoverNamesLeadBackToTheirTarget) {
  const std::string p(1, platform::PathDelim == '/' ? '.' : '~');
  const std::string other(1, platform::PathDelim == '/' ? '~' : '.');
  struct Case {
    std::string name;
    std::optional<std::string> target;
  } cases[] = {
      {p + "RecentProject.log.tmp1234-0", "RecentProject.log"},
      {p + "a.tmp.tmp7-12", "a.tmp"},
      {p + "x-y.dat.tmp1-2", "x-y.dat"},
      {"RecentProject.log", std::nullopt},
      {p + "RecentProject.log", std::nullopt},
      {other + "RecentProject.log.tmp1-2", std::nullopt},
      {p + "a.tmp12", std::nullopt},
      {p + "a.tmp-3", std::nullopt},
      {p + "a.tmp3-", std::nullopt},
      {p + "a.tmpx-3", std::nullopt},
      {p + ".tmp1-2", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::ReplacementLeftoverTarget(c.name), c.target);
  }
}

} // namespace
