// Hands one command text to the running mIRC client.
#ifndef VARNOCK_CLIENT_LINK_DELIVER_COMMAND_H
#define VARNOCK_CLIENT_LINK_DELIVER_COMMAND_H

#include "common/loader_types.h"

// `command` is NUL-terminated and at most `command_capacity` bytes with its
// terminator. Returns once the client has handled it, or once the exchange
// has failed; keeps no reference to `command`.
delivery_outcome deliver_command(const char* command);

#endif
