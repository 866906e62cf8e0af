// varnock VERB PATH: has a running mIRC client load, reload or unload one of
// its script files, and tells by its output and exit status how that went.
// Why it judges, converts and flushes as it does: docs/design.md.
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

static const char out_of_memory[] = "Error - Out of memory\n";

static int refuse(const char* message) {
  printf("%s", message);
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

// The row of the verb word as the client would read it, in the code page;
// a word the code page cannot hold is none of the verbs.
static conversion_status match_verb(const wchar_t* typed_verb, unsigned code_page,
                                    const script_verb** verb) {
  const code_page_text word = to_code_page(typed_verb, code_page);
  *verb = word.text ? find_verb(word.text) : nullptr;
  free(word.text);
  return word.status;
}

// A file or a pipe gets the bytes the client gets; a console, the path as
// typed (write_to_console says why).
static void print_progress(const char* format, const char* script_path, unsigned code_page) {
  char line[console_text_capacity];
  const int length = snprintf(line, sizeof line, format, script_path);
  // What is printed before must come out before.
  fflush(stdout);
  if (length < 0 || size_t(length) >= sizeof line || !write_to_console(line, code_page)) {
    printf(format, script_path);
  }
}

static int compose_and_deliver(const script_verb& verb, const char* script_path, unsigned code_page,
                               char* command) {
  // The row's own word always matches: only the length, counted in the
  // code page's bytes, is left to refuse.
  if (compose_command(verb.word, script_path, command).status != compose_status::composed) {
    return refuse("Error - Script path too long\n");
  }
  print_progress(verb.progress_format, script_path, code_page);
  // Whoever reads our output through a pipe sees the progress line while
  // the client is still busy with the command.
  fflush(stdout);
  return report_delivery(deliver_command(command));
}

// Each bad command gets the same message whatever else is wrong with it:
// the verb is judged first, then the path's characters, then its code page,
// then its length. An empty path is none of these: the client is told, and
// answers for it as for any other name.
static int run(int argc, wchar_t** argv, char* command) {
  printf("--- Varnock ---\n");
  if (argc < 3) return refuse("Error - Bad Command\n");
  // Words after the path are neither converted nor judged.
  const wchar_t* typed_verb = argv[1];
  const wchar_t* typed_path = argv[2];
  const unsigned code_page = ansi_code_page();

  const script_verb* verb = nullptr;
  if (match_verb(typed_verb, code_page, &verb) == conversion_status::out_of_memory) {
    return refuse(out_of_memory);
  }
  if (!verb) return refuse("Error - Bad Command");

  if (!path_characters_allowed(typed_path)) {
    return refuse("Error - Script path may not contain \", | or control characters\n");
  }

  const code_page_text path = to_code_page(typed_path, code_page);
  if (path.status == conversion_status::out_of_memory) return refuse(out_of_memory);
  if (path.status == conversion_status::not_in_code_page) {
    return refuse("Error - Script path has characters outside the ANSI code page\n");
  }
  const int status = compose_and_deliver(*verb, path.text, code_page, command);
  free(path.text);
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
