// The names and numbers by which the mIRC client takes commands from other
// programs. The client is outside this program; these values are its side of
// the contract, shared with the stand-in client used by the tests. Why the
// loaders take a lock of their own: docs/design.md.
#ifndef VARNOCK_CLIENT_LINK_CLIENT_CHANNEL_H
#define VARNOCK_CLIENT_LINK_CLIENT_CHANNEL_H

#include "common/loader_types.h"

constexpr const char client_window_class[] = "mIRC";
constexpr const char client_mapping_name[] = "mIRC";
constexpr unsigned client_command_message = 0x0400 + 200;  // WM_USER + 200
constexpr unsigned client_command_wparam = 1;
constexpr long client_command_lparam = 0;

// Not the client's: taken by every loader around its use of the mapping, so
// that loaders started together cannot overwrite each other's command before
// the client has read it.
constexpr const char sender_lock_name[] = "Local\\Varnock.ClientCommand";

#endif
