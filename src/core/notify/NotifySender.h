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

// Sends one message through a channel, waiting at most its timeout.
// Blocking: called from a channel's own thread.
SendResult sendNotice(const NotifyChannel &channel, const NotifyMessage &message, const QString &site);

} // namespace vx
