#pragma once
// The commands that change the server's tree (program, template, rollout)
// and the signer (sign). Each checks everything it can before it writes
// anything: a refused publish raises EPublishRefused and leaves the tree as
// it was. What it writes goes in an order that keeps the tree whole for a
// client at every moment: the package (flushed) first, then the signature
// file, which still holds the old manifest's signature too, then the
// manifest, each replaced at once.
#include "publish/PublishCommandLine.h"

// Runs the command; its result is the exit status. Errors are raised.
int RunPublish(const TPublishOptions& options);
int RunRollout(const TPublishOptions& options);
int RunSign(const TPublishOptions& options);
