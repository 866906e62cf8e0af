// The client's windows, and what every loader asks of them before it writes
// its command.
#ifndef VARNOCK_CLIENT_LINK_CLIENT_WINDOWS_H
#define VARNOCK_CLIENT_LINK_CLIENT_WINDOWS_H

// Returns once every window of the client's class that the system's search
// for it could give, top-level or message-only, has handled whatever was
// sent to it before; false, with nothing sent, when they could not be listed.
bool let_every_client_finish_earlier_messages();

#endif
