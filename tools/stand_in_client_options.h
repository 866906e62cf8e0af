// The stand-in client's options, in one table that both the client (to read
// its command line and to print its usage) and the tests (to build that
// command line from named fields) go by.
#ifndef VARNOCK_TOOLS_STAND_IN_CLIENT_OPTIONS_H
#define VARNOCK_TOOLS_STAND_IN_CLIENT_OPTIONS_H

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client_link/client_channel.h"

// Texts are 8-bit, in the ANSI code page; an empty one is an option not given.
struct stand_in_client_options {
  bool refuse = false;
  unsigned delay_ms = 0;
  std::string record;
  std::string report_steps;
  std::string busy_until;
  std::string hold_until;
  std::string hold_after_null;
  std::string restack_while;
  std::string leave;
  bool message_only = false;
  std::string window_class = client_window_class;
};

// An option is a flag, a number or a text: exactly one of its fields is set.
struct stand_in_client_option {
  const char* name;
  const char* value;  // the value's name in the usage; null for a flag
  bool stand_in_client_options::*flag;
  unsigned stand_in_client_options::*number;
  std::string stand_in_client_options::*text;
  const char* help;
};

constexpr stand_in_client_option flag_option(const char* name, bool stand_in_client_options::*field,
                                             const char* help) {
  return {name, nullptr, field, nullptr, nullptr, help};
}
constexpr stand_in_client_option number_option(const char* name, const char* value,
                                               unsigned stand_in_client_options::*field,
                                               const char* help) {
  return {name, value, nullptr, field, nullptr, help};
}
constexpr stand_in_client_option text_option(const char* name, const char* value,
                                             std::string stand_in_client_options::*field,
                                             const char* help) {
  return {name, value, nullptr, nullptr, field, help};
}

inline const stand_in_client_option stand_in_client_option_table[] = {
    flag_option("--refuse", &stand_in_client_options::refuse,
                "answer 0 (the client failed) instead of 1"),
    number_option("--delay", "MS", &stand_in_client_options::delay_ms,
                  "take MS milliseconds over each command, busy meanwhile"),
    text_option("--record", "FILE", &stand_in_client_options::record,
                "append each record to FILE instead of writing it to stdout; FILE is opened "
                "once the window is up, so a script can wait for it to exist before it starts a "
                "loader"),
    text_option("--report-steps", "EVENT", &stand_in_client_options::report_steps,
                "also record each step the client takes (tools/stand_in_client.cpp lists them), "
                "and set the named event EVENT after each record, so that a test can wait for a "
                "step rather than guess how long it takes"),
    text_option("--busy-until", "EVENT", &stand_in_client_options::busy_until,
                "read no messages until the named event EVENT is set, as a client busy with a "
                "long script does; its window is up"),
    text_option("--hold-until", "EVENT", &stand_in_client_options::hold_until,
                "inside each command message, before reading the mapping, stay busy until the "
                "named event EVENT is set, as a client busy with what an earlier message started"),
    text_option("--hold-after-null", "EVENT", &stand_in_client_options::hold_after_null,
                "after answering each WM_NULL, read no messages until the named event EVENT is "
                "set: a client that a loader finds idle, and that is busy by the time the "
                "loader's command comes"),
    text_option("--restack-while", "EVENT", &stand_in_client_options::restack_while,
                "while the named event EVENT is set, keep moving the window to the top and to the "
                "bottom of the z-order by turns, as a user switching between windows does, only "
                "faster; while it is not set, keep the window at the bottom"),
    text_option("--leave", "close|exit", &stand_in_client_options::leave,
                "while handling the first command, after recording it: close the window and end "
                "(close), or end at once (exit), as a client closed or crashing over a command; "
                "the sender gets no answer"),
    flag_option("--message-only", &stand_in_client_options::message_only,
                "a message-only window (parent HWND_MESSAGE), which the system's search for the "
                "class gives as well as top-level ones"),
    text_option("--class", "NAME", &stand_in_client_options::window_class,
                "the window's class name instead of \"mIRC\", as 8-bit text"),
};

// The client's command line for `chosen`: each option that differs from its
// default, in the table's order.
inline std::vector<std::string> stand_in_client_arguments(const stand_in_client_options& chosen) {
  const stand_in_client_options defaults;
  std::vector<std::string> arguments;
  for (const stand_in_client_option& option : stand_in_client_option_table) {
    if (option.flag && chosen.*option.flag != defaults.*option.flag) {
      arguments.push_back(option.name);
    } else if (option.number && chosen.*option.number != defaults.*option.number) {
      arguments.push_back(option.name);
      arguments.push_back(std::to_string(chosen.*option.number));
    } else if (option.text && chosen.*option.text != defaults.*option.text) {
      arguments.push_back(option.name);
      arguments.push_back(chosen.*option.text);
    }
  }
  return arguments;
}

// The other way round; false at an option not in the table or without its value.
inline bool read_stand_in_client_arguments(int argc, char** argv, stand_in_client_options* chosen) {
  for (int i = 1; i < argc; ++i) {
    const stand_in_client_option* found = nullptr;
    for (const stand_in_client_option& option : stand_in_client_option_table) {
      if (strcmp(argv[i], option.name) == 0) found = &option;
    }
    if (!found) return false;
    if (found->flag) {
      chosen->*found->flag = true;
      continue;
    }
    if (i + 1 == argc) return false;
    const char* value = argv[++i];
    if (found->number) {
      chosen->*found->number = static_cast<unsigned>(strtoul(value, nullptr, 10));
    } else {
      chosen->*found->text = value;
    }
  }
  return true;
}

inline std::string stand_in_client_usage() {
  std::string usage = "usage: stand_in_client";
  std::string help;
  for (const stand_in_client_option& option : stand_in_client_option_table) {
    const std::string shown =
        std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
    usage += " [" + shown + "]";
    help += "  " + shown + "\n      " + option.help + "\n";
  }
  return usage + "\n" + help;
}

#endif
