#pragma once

#include "core/notify/NotifyCompose.h"

namespace vx {

// What a channel answered: accepted (HTTP 2xx, SMTP 250, exit 0) or not,
// and what the receiver said (the status and the first line of its answer,
// never a password).
struct SendResult {
    bool accepted = false;
    QString answer;
};

// libcurl's global state, held while channels may send (counted; the last
// release frees it, so a program that stops sending leaves nothing behind).
void acquireNotifyLibraries();
void releaseNotifyLibraries();

// Sends one message through a channel, waiting at most its timeout; between
// acquireNotifyLibraries() and releaseNotifyLibraries().
// Blocking: called from a channel's own thread.
SendResult sendNotice(const NotifyChannel &channel, const NotifyMessage &message, const QString &site);

} // namespace vx
