// What the loader prints, and what the client receives, as the end-to-end
// tests expect them. The C runtime writes each "\n" to a pipe as "\r\n", as
// on any Windows.
#ifndef VARNOCK_TESTS_LOADER_OUTPUT_H
#define VARNOCK_TESTS_LOADER_OUTPUT_H

#include <string>

const std::string banner = "--- Varnock ---\r\n";
const std::string not_found = "ERROR: Cannot find mIRC window handle, please load mIRC!";
const std::string no_mapping = "ERROR: Unable to create file mapping!";
const std::string refused = "ERROR: mIRC Returned an error!";
const std::string complete = "Complete!";
// The refusals of a command, which reaches no client. "\r\n" ends the bad
// command's line only where the arguments are too few.
const std::string bad_command = "Error - Bad Command";
const std::string not_allowed =
    "Error - Script path may not contain \", | or control characters\r\n";
const std::string outside_code_page =
    "Error - Script path has characters outside the ANSI code page\r\n";
const std::string too_long = "Error - Script path too long\r\n";

inline std::string progress_line(const std::string& verb, const std::string& path) {
  const char* lead = verb == "load" ? "Loading" : verb == "reload" ? "Reloading" : "Unloading";
  return std::string(lead) + " script file: " + path + "\r\n";
}

inline std::string command_for(const std::string& verb, const std::string& path) {
  return "/" + verb + " -rs \"" + path + "\"";
}

#endif
