// The socket channel, for the process start beside it.
#pragma once

#include <memory>

#include "platform/child_process.h"

namespace platform {

// Takes over fd, a connected stream socket.
std::unique_ptr<ProcessChannel> ChannelOnSocket(int fd);

}  // namespace platform
