// Constants and types shared by the front end and the client link.
#ifndef VARNOCK_COMMON_LOADER_TYPES_H
#define VARNOCK_COMMON_LOADER_TYPES_H

#include <stddef.h>

// Size of the command buffer and of the shared mapping the client reads,
// terminator included.
constexpr size_t command_capacity = 1024;

enum class delivery_outcome {
  delivered,         // the client answered non-zero
  no_client_window,  // no window of class "mIRC"
  no_mapping,        // the shared mapping could not be created, opened or viewed
  client_refused,    // the client answered zero
};

#endif
