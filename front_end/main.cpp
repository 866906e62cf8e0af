// varnock VERB PATH: has a running mIRC client load, reload or unload one of
// its script files, and tells by its output and exit status how that went.
#include <stdio.h>
#include <stdlib.h>

#include "client_link/deliver_command.h"
#include "common/loader_types.h"
#include "front_end/script_command.h"

#ifdef __MINGW32__
// The path must reach the client exactly as typed: MinGW's runtime would
// otherwise expand wildcards in it, as no Windows program is expected to.
int _dowildcard = 0;
#endif

enum exit_status {
  exit_delivered = 0,
  exit_bad_command = 1,
  exit_no_client_window = 2,
  exit_no_mapping = 3,
  exit_client_refused = 4,
};

static int report_delivery(delivery_outcome outcome) {
  switch (outcome) {
    case delivery_outcome::delivered:
      printf("Complete!");
      return exit_delivered;
    case delivery_outcome::no_client_window:
      printf("ERROR: Cannot find mIRC window handle, please load mIRC!");
      return exit_no_client_window;
    case delivery_outcome::no_mapping:
      printf("ERROR: Unable to create file mapping!");
      return exit_no_mapping;
    case delivery_outcome::client_refused:
      break;
  }
  printf("ERROR: mIRC Returned an error!");
  return exit_client_refused;
}

static int run(int argc, char** argv, char* command) {
  printf("--- Varnock ---\n");
  if (argc < 3) {
    printf("Error - Bad Command\n");
    return exit_bad_command;
  }

  const char* script_path = argv[2];
  const compose_result composed = compose_command(argv[1], script_path, command);
  switch (composed.status) {
    case compose_status::composed:
      break;
    case compose_status::unknown_verb:
      printf("Error - Bad Command");
      return exit_bad_command;
    case compose_status::path_not_allowed:
      printf("Error - Script path may not contain \", | or control characters\n");
      return exit_bad_command;
    case compose_status::path_too_long:
      printf("Error - Script path too long\n");
      return exit_bad_command;
  }

  printf(composed.verb->progress_format, script_path);
  // Whoever reads our output through a pipe sees the progress line while
  // the client is still busy with the command.
  fflush(stdout);
  return report_delivery(deliver_command(command));
}

int main(int argc, char** argv) {
  char* command = static_cast<char*>(malloc(command_capacity));
  if (!command) return exit_bad_command;
  const int status = run(argc, argv, command);
  free(command);
  return status;
}
