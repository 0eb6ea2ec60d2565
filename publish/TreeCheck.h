#pragma once
// update-publish check: every manifest of a tree read as a client reads it,
// and every entry checked against the files it names. One line per problem,
// then a summary; the exit status is 0 only when there is no problem.
#include "publish/PublishCommandLine.h"

int RunCheck(const TPublishOptions& options);
