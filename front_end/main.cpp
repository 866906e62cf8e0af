// varnock VERB PATH: has a running mIRC client load, reload or unload one of
// its script files, and tells by its output and exit status how that went.
#include <stdio.h>
#include <stdlib.h>

#include "client_link/deliver_command.h"
#include "common/loader_types.h"
#include "front_end/code_page_text.h"
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

static int report_unknown_verb() {
  printf("Error - Bad Command");
  return exit_bad_command;
}

static int report_path_not_allowed() {
  printf("Error - Script path may not contain \", | or control characters\n");
  return exit_bad_command;
}

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

// The verb word and the script path as typed, and as the client reads
// them: in the ANSI code page.
struct loader_arguments {
  const wchar_t* typed_path;
  code_page_text verb;
  code_page_text path;
  unsigned code_page;
};

// A path the code page cannot hold gets no command composed, so it is
// judged here in compose_command's order (the verb, then the unsafe
// characters) before its code page is blamed.
static int report_path_outside_code_page(const char* verb_word, const wchar_t* typed_path) {
  if (!find_verb(verb_word)) return report_unknown_verb();
  if (!path_characters_allowed(typed_path)) return report_path_not_allowed();
  printf("Error - Script path has characters outside the ANSI code page\n");
  return exit_bad_command;
}

// Each bad command gets the same message whatever else is wrong with it:
// the verb is judged first, then the unsafe characters of the path, then
// its code page, then its length.
static int compose_and_deliver(const loader_arguments& arguments, char* command) {
  if (arguments.verb.status == conversion_status::out_of_memory ||
      arguments.path.status == conversion_status::out_of_memory) {
    printf("Error - Out of memory\n");
    return exit_bad_command;
  }
  // A word that is not in the code page cannot be one of the verbs.
  if (arguments.verb.status != conversion_status::converted) return report_unknown_verb();
  if (arguments.path.status != conversion_status::converted) {
    return report_path_outside_code_page(arguments.verb.text, arguments.typed_path);
  }

  const char* script_path = arguments.path.text;
  const lead_byte_list lead_bytes = lead_bytes_of(arguments.code_page);
  const compose_result composed =
      compose_command(arguments.verb.text, script_path, command, lead_bytes.ranges);
  switch (composed.status) {
    case compose_status::composed:
      break;
    case compose_status::unknown_verb:
      return report_unknown_verb();
    case compose_status::path_not_allowed:
      return report_path_not_allowed();
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

static int run(int argc, wchar_t** argv, char* command) {
  printf("--- Varnock ---\n");
  if (argc < 3) {
    printf("Error - Bad Command\n");
    return exit_bad_command;
  }

  // Words after the path are neither converted nor judged.
  const unsigned code_page = ansi_code_page();
  const loader_arguments arguments = {argv[2], to_code_page(argv[1], code_page),
                                      to_code_page(argv[2], code_page), code_page};
  const int status = compose_and_deliver(arguments, command);
  free(arguments.verb.text);
  free(arguments.path.text);
  return status;
}

// The arguments come from the UTF-16 command line, as the user typed them:
// the runtime's 8-bit copy has characters outside the code page replaced by
// look-alikes, which could name another file (or make '\' of a fullwidth
// reverse solidus).
int wmain(int argc, wchar_t** argv) {
  char* command = static_cast<char*>(malloc(command_capacity));
  if (!command) return exit_bad_command;
  const int status = run(argc, argv, command);
  free(command);
  return status;
}
