// The loader as its users meet it: the real varnock.exe, run as a child
// process against a stand-in client, its output compared byte for byte.
// The exchange must also close its handles to the mapping and the lock
// before it returns. A loader's run cannot show that: the system closes a
// process's handles when it exits. So a few tests also run the exchange in
// this process, which outlives it, and then look whether the channel's
// names still open.
#include <windows.h>
#include <winternl.h>

#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client_link/client_channel.h"
#include "client_link/deliver_command.h"
#include "gtest/gtest.h"
#include "tests/loader_output.h"
#include "tests/programs_under_test.h"

namespace {

using arguments = std::vector<std::string>;

// Closed however the test ends, so that no test leaves the client's names taken.
struct owned_handle {
  explicit owned_handle(HANDLE h) : handle(h) {}
  ~owned_handle() {
    if (handle) CloseHandle(handle);
  }
  owned_handle(const owned_handle&) = delete;
  owned_handle& operator=(const owned_handle&) = delete;
  HANDLE handle;
};

// What the loader meets in a mapping held read-only under the client's name:
// a handle to it opens, a view to write into does not.
bool opens_without_a_writable_view() {
  const owned_handle opened(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               command_capacity, client_mapping_name));
  if (!opened.handle) return false;
  void* view = MapViewOfFile(opened.handle, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!view) return true;
  UnmapViewOfFile(view);
  return false;
}

const char cannot_happen_here[] =
    "the read-only mapping did not open for the loader, or gave it a writable view: the case "
    "under test cannot happen here";

// Whether a name of the channel still opens. Once this process holds no
// handle to it and nothing else is running that would, a name that opens is a
// handle left open by the exchange run in this process.
bool mapping_name_opens() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, client_mapping_name);
  if (mapping) CloseHandle(mapping);
  return mapping != nullptr;
}

bool lock_name_opens() {
  HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, sender_lock_name);
  if (lock) CloseHandle(lock);
  return lock != nullptr;
}

class LoaderTest : public EndToEndTest {
 protected:
  static loader_run run(const arguments& args) {
    loader_run result = run_loader(args);
    EXPECT_EQ(result.errors, "") << describe(args) << " wrote to standard error";
    return result;
  }

  // The loader, and the exchange run in this process, both find the mapping
  // under the client's name unfit to write into, and the client hears nothing.
  // It runs here too so that its handles can be looked for after: no other
  // test takes its way out with the mapping open and nothing written into it.
  static void expect_mapping_refused(stand_in_client& client) {
    const loader_run result = run({"load", "away.mrc"});
    EXPECT_EQ(result.output, banner + progress_line("load", "away.mrc") + no_mapping);
    EXPECT_EQ(result.exit_status, 3u);
    EXPECT_EQ(deliver_command("/load -rs \"away.mrc\""), delivery_outcome::no_mapping);
    EXPECT_TRUE(client.new_commands().empty())
        << "the client was told to read a command never written";
  }

  // Once this process holds no handle to them, after running the exchange.
  static void expect_no_names_left_open(const std::string& what) {
    EXPECT_FALSE(mapping_name_opens())
        << what << "the exchange left its handle to the mapping open";
    EXPECT_FALSE(lock_name_opens()) << what << "the exchange left its lock open";
  }
};

TEST_F(LoaderTest, RefusesBadCommandsWithoutContactingTheClient) {
  struct refusal {
    arguments args;
    std::string message;
  };
  const refusal cases[] = {
      {{}, bad_command + "\r\n"},
      {{"load"}, bad_command + "\r\n"},
      {{"Load", "away.mrc"}, bad_command},
      {{"RELOAD", "away.mrc"}, bad_command},
      {{"unload ", "away.mrc"}, bad_command},
      {{"loadx", "away.mrc", "more"}, bad_command},
      {{"", "away.mrc"}, bad_command},
      {{"load", std::string(1012, 'a')}, too_long},
      {{"reload", std::string(1010, 'a')}, too_long},
      {{"unload", std::string(5000, 'a')}, too_long},
      {{"load", "x\" | /exit | echo \""}, not_allowed},
      {{"reload", "C:\\a|b.mrc"}, not_allowed},
      {{"unload", "C:\\a.mrc\n/exit"}, not_allowed},
      {{"load", "C:\\a\tb.mrc"}, not_allowed},
      {{"Load", "x\" | /exit"}, bad_command},
  };
  stand_in_client client;
  ASSERT_TRUE(client.running());
  for (const refusal& c : cases) {
    expect_refused(run_loader(c.args), c.message, client, describe(c.args));
  }
}

TEST_F(LoaderTest, DeliversTheCommandAsComposed) {
  struct delivery {
    arguments args;
    std::string command;  // as the client must receive it
  };
  const std::string here = folder_of_this_program();
  const delivery cases[] = {
      {{"load", "C:\\scripts\\away.mrc"}, command_for("load", "C:\\scripts\\away.mrc")},
      {{"reload", "C:\\scripts\\away.mrc"}, command_for("reload", "C:\\scripts\\away.mrc")},
      {{"unload", "C:\\scripts\\away.mrc"}, command_for("unload", "C:\\scripts\\away.mrc")},
      {{"reload", "C:\\scripts\\away.mrc", "extra", "words"},
       command_for("reload", "C:\\scripts\\away.mrc")},
      {{"load", "C:\\My Scripts\\two words.mrc"},
       command_for("load", "C:\\My Scripts\\two words.mrc")},
      {{"unload", "C:\\100%\\%s%d%n.mrc"}, command_for("unload", "C:\\100%\\%s%d%n.mrc")},
      {{"load", "C:\\$me;a&b (1)\\caf\xE9 \xC0 la carte.mrc"},
       command_for("load", "C:\\$me;a&b (1)\\caf\xE9 \xC0 la carte.mrc")},
      // Wildcards are the user's text, not a pattern to expand, even where
      // files match them.
      {{"load", here + "\\*.exe"}, command_for("load", here + "\\*.exe")},
      // An empty name is the client's to judge: it gets two quotes.
      {{"load", ""}, "/load -rs \"\""},
      {{"unload", "", "away.mrc"}, "/unload -rs \"\""},
      {{"load", std::string(1011, 'a')}, command_for("load", std::string(1011, 'a'))},
      {{"reload", std::string(1009, 'b')}, command_for("reload", std::string(1009, 'b'))},
      {{"unload", std::string(1009, 'c')}, command_for("unload", std::string(1009, 'c'))},
  };
  stand_in_client client;
  ASSERT_TRUE(client.running());
  for (const delivery& c : cases) {
    const loader_run result = run(c.args);
    EXPECT_EQ(result.output, banner + progress_line(c.args[0], c.args[1]) + complete)
        << describe(c.args);
    EXPECT_EQ(result.exit_status, 0u) << describe(c.args);
    const std::vector<received_command> received = client.new_commands();
    ASSERT_EQ(received.size(), 1u)
        << describe(c.args) << ": the client must hear exactly one command";
    EXPECT_TRUE(received[0].had_mapping) << describe(c.args);
    EXPECT_EQ(received[0].text, c.command) << describe(c.args);
    EXPECT_EQ(received[0].wparam, 1u) << describe(c.args);
    EXPECT_EQ(received[0].lparam, 0) << describe(c.args);
  }
}

TEST_F(LoaderTest, ReportsTheClientsRefusal) {
  stand_in_client client({"--refuse"});
  ASSERT_TRUE(client.running());
  for (const char* verb : {"load", "reload", "unload"}) {
    const loader_run result = run({verb, "C:\\scripts\\broken.mrc"});
    EXPECT_EQ(result.output, banner + progress_line(verb, "C:\\scripts\\broken.mrc") + refused)
        << verb;
    EXPECT_EQ(result.exit_status, 4u) << verb;
    const std::vector<received_command> received = client.new_commands();
    ASSERT_EQ(received.size(), 1u) << verb;
    EXPECT_EQ(received[0].text, command_for(verb, "C:\\scripts\\broken.mrc")) << verb;
  }
}

TEST_F(LoaderTest, ReportsAMissingClientBeforeTouchingTheMapping) {
  const loader_run alone = run({"reload", "C:\\scripts\\away.mrc"});
  EXPECT_EQ(alone.output, banner + progress_line("reload", "C:\\scripts\\away.mrc") + not_found);
  EXPECT_EQ(alone.exit_status, 2u);

  // With the mapping's name taken, a loader that tried the mapping first
  // would report that instead.
  HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, client_mapping_name);
  ASSERT_NE(squatter, nullptr) << "CreateEventA(\"mIRC\") failed, error " << GetLastError();
  const loader_run blocked = run({"load", "away.mrc"});
  EXPECT_EQ(blocked.output, banner + progress_line("load", "away.mrc") + not_found);
  EXPECT_EQ(blocked.exit_status, 2u);
  CloseHandle(squatter);
}

// The name held by an object of another kind: the mapping cannot be made.
TEST_F(LoaderTest, ReportsAMappingItCannotCreate) {
  stand_in_client client;
  ASSERT_TRUE(client.running());
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, client_mapping_name);
  ASSERT_NE(event, nullptr) << "CreateEventA(\"mIRC\") failed, error " << GetLastError();
  const loader_run name_taken = run({"load", "away.mrc"});
  CloseHandle(event);
  EXPECT_EQ(name_taken.output, banner + progress_line("load", "away.mrc") + no_mapping);
  EXPECT_EQ(name_taken.exit_status, 3u);
  EXPECT_TRUE(client.new_commands().empty()) << "the client was sent a command with no text";
}

// The client's mapping exists, but read-only: the loader gets a handle to it
// and no view to write its command into. Not run under Wine (tests/CMakeLists.txt).
TEST_F(LoaderTest, ReportsAMappingItCannotWriteInto) {
  stand_in_client client;
  ASSERT_TRUE(client.running());
  {
    const owned_handle read_only(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0,
                                                    command_capacity, client_mapping_name));
    ASSERT_NE(read_only.handle, nullptr) << "CreateFileMappingA failed, error " << GetLastError();
    ASSERT_TRUE(opens_without_a_writable_view()) << cannot_happen_here;

    expect_mapping_refused(client);
  }
  expect_no_names_left_open("");
}

TEST_F(LoaderTest, ExchangeClosesItsHandlesWhenTheClientAnswers) {
  struct answer {
    const char* what;
    std::vector<std::string> options;
    delivery_outcome outcome;
  };
  const answer cases[] = {
      {"performed", {}, delivery_outcome::delivered},
      {"refused", {"--refuse"}, delivery_outcome::client_refused},
  };
  for (const answer& c : cases) {
    stand_in_client client(c.options);
    ASSERT_TRUE(client.running()) << c.what;
    EXPECT_EQ(deliver_command("/reload -rs \"away.mrc\""), c.outcome) << c.what;
    EXPECT_EQ(client.new_commands().size(), 1u) << c.what;
    expect_no_names_left_open(std::string(c.what) + ": ");
  }
}

TEST_F(LoaderTest, WritesOnlyItsTextAndTerminatorIntoAnExistingMapping) {
  stand_in_client client;
  ASSERT_TRUE(client.running());
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      command_capacity, client_mapping_name);
  ASSERT_NE(mapping, nullptr) << "CreateFileMappingA failed, error " << GetLastError();
  char* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr) << "MapViewOfFile failed, error " << GetLastError();
  // An older, longer text with no terminator at all.
  memset(view, 'X', command_capacity);

  const loader_run result = run({"load", "a.mrc"});
  EXPECT_EQ(result.exit_status, 0u);
  const std::vector<received_command> received = client.new_commands();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].text, "/load -rs \"a.mrc\"");

  const std::string command = "/load -rs \"a.mrc\"";
  EXPECT_EQ(std::string(view, command.size()), command);
  EXPECT_EQ(view[command.size()], '\0') << "no terminator after the new text";
  EXPECT_EQ(std::string(view + command.size() + 1, command_capacity - command.size() - 1),
            std::string(command_capacity - command.size() - 1, 'X'))
      << "bytes after the terminator were written";
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

// Times the client performed `command`: a message that found no mapping
// performed nothing.
int times_received(const std::vector<received_command>& received, const std::string& command) {
  int times = 0;
  for (const received_command& one : received) times += one.had_mapping && one.text == command;
  return times;
}

// Loaders started together, as a file watcher or a parallel build starts
// them, against a client slow enough for their exchanges to overlap.
TEST_F(LoaderTest, LoadersStartedTogetherEachDeliverTheirOwnCommandOnce) {
  stand_in_client client({"--delay", "30"});
  ASSERT_TRUE(client.running());
  constexpr int loader_count = 8;
  const auto path_of = [](int loader) {
    return "C:\\scripts\\script" + std::to_string(loader) + ".mrc";
  };
  std::vector<started_loader> loaders;
  for (int i = 0; i < loader_count; ++i) loaders.push_back(start_loader({"reload", path_of(i)}));
  for (int i = 0; i < loader_count; ++i) {
    const loader_run result = finish_loader(loaders[i]);
    EXPECT_EQ(result.output, banner + progress_line("reload", path_of(i)) + complete)
        << "loader " << i;
    EXPECT_EQ(result.exit_status, 0u) << "loader " << i;
    EXPECT_EQ(result.errors, "") << "loader " << i;
  }
  const std::vector<received_command> received = client.new_commands();
  for (int i = 0; i < loader_count; ++i) {
    EXPECT_EQ(times_received(received, command_for("reload", path_of(i))), 1)
        << "times the client performed loader " << i << "'s command";
  }
}

DWORD WINAPI take_lock_and_exit(void* lock) {
  WaitForSingleObject(static_cast<HANDLE>(lock), INFINITE);
  return 0;  // still owning it: the lock is abandoned
}

TEST_F(LoaderTest, TakesOverALockAbandonedByAKilledLoader) {
  stand_in_client client;
  ASSERT_TRUE(client.running());
  HANDLE lock = CreateMutexA(nullptr, FALSE, sender_lock_name);
  ASSERT_NE(lock, nullptr) << "CreateMutexA failed, error " << GetLastError();
  HANDLE owner = CreateThread(nullptr, 0, take_lock_and_exit, lock, 0, nullptr);
  ASSERT_NE(owner, nullptr);
  WaitForSingleObject(owner, INFINITE);
  CloseHandle(owner);

  const loader_run result = run({"load", "away.mrc"});
  EXPECT_EQ(result.output, banner + progress_line("load", "away.mrc") + complete);
  EXPECT_EQ(result.exit_status, 0u);
  EXPECT_EQ(client.new_commands().size(), 1u);
  CloseHandle(lock);
}

// The sender lock, held by the test as a loader holds it, and given back
// however the test ends.
struct held_sender_lock {
  held_sender_lock() : handle(CreateMutexA(nullptr, FALSE, sender_lock_name)) {
    if (handle) WaitForSingleObject(handle, INFINITE);
  }
  ~held_sender_lock() { release(); }
  held_sender_lock(const held_sender_lock&) = delete;
  held_sender_lock& operator=(const held_sender_lock&) = delete;
  void release() {
    if (!handle) return;
    ReleaseMutex(handle);
    CloseHandle(handle);
    handle = nullptr;
  }
  HANDLE handle;
};

// How many handles to `object` are open, in all programs together; 0 when
// the system does not tell.
ULONG handles_to(HANDLE object) {
  using query_object = LONG(WINAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, void*, ULONG, ULONG*);
  const FARPROC found = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject");
  if (!found) return 0;
  const query_object query = reinterpret_cast<query_object>(reinterpret_cast<void (*)()>(found));
  PUBLIC_OBJECT_BASIC_INFORMATION basics = {};
  if (query(object, ObjectBasicInformation, &basics, sizeof basics, nullptr) != 0) return 0;
  return basics.HandleCount;
}

// A loader opens the lock right before it waits for it, and can do nothing
// else in between: a handle more than the test's own says that a loader
// started after the progress line has reached its wait for its turn.
bool await_loaders_at_the_lock(HANDLE test_lock, ULONG loaders) {
  return poll_until([&] { return handles_to(test_lock) >= 1 + loaders; });
}

// What two clients received since the last call, together; `second` may be null.
std::vector<received_command> new_commands_of(stand_in_client& first, stand_in_client* second) {
  std::vector<received_command> received = first.new_commands();
  if (second) {
    const std::vector<received_command> at_second = second->new_commands();
    received.insert(received.end(), at_second.begin(), at_second.end());
  }
  return received;
}

// A named event the test sets to let a stand-in client go on.
struct client_gate {
  explicit client_gate(const std::string& what)
      : name("Varnock.Test." + what + "." + std::to_string(GetCurrentProcessId())),
        event(CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}
  void open() { SetEvent(event.handle); }
  void shut() { ResetEvent(event.handle); }
  const std::string name;
  const owned_handle event;
};

started_loader start_past_progress(const std::string& path) {
  started_loader loader = start_loader(arguments{"load", path});
  EXPECT_TRUE(read_output_until(loader, banner + progress_line("load", path)))
      << "the loader for " << path << " printed no progress line, or not within " << step_limit_ms
      << " ms while it waited for mIRC";
  return loader;
}

// mIRC restarted, or closed, while a loader waited for its turn (a file
// watcher fired as the user restarted it): the loader must talk to the
// client that is there when its turn comes.
TEST_F(LoaderTest, LooksForTheClientWhenItsTurnComes) {
  struct change {
    const char* what;
    bool restart;
    DWORD exit_status;
    std::string final_message;
  };
  const change cases[] = {
      {"restarted", true, 0, complete},
      {"closed", false, 2, not_found},
  };
  const std::string path = "C:\\scripts\\away.mrc";
  for (const change& c : cases) {
    held_sender_lock lock;
    ASSERT_NE(lock.handle, nullptr) << "CreateMutexA failed, error " << GetLastError();
    stand_in_client first;
    ASSERT_TRUE(first.running()) << c.what;
    started_loader loader = start_past_progress(path);
    ASSERT_TRUE(await_loaders_at_the_lock(lock.handle, 1))
        << c.what << ": the loader never came to wait for its turn";
    first.stop();
    std::unique_ptr<stand_in_client> second;
    if (c.restart) {
      second = std::make_unique<stand_in_client>();
      ASSERT_TRUE(second->running()) << c.what;
    }
    lock.release();

    const loader_run result = finish_loader(loader);
    EXPECT_EQ(result.output, banner + progress_line("load", path) + c.final_message) << c.what;
    EXPECT_EQ(result.exit_status, c.exit_status) << c.what;
    EXPECT_EQ(first.times_recorded("null") + first.times_recorded("command"), 0u)
        << c.what << ": the client that went away was sent something";
    if (second) {
      EXPECT_EQ(times_received(second->new_commands(), command_for("load", path)), 1)
          << c.what << ": times the new client performed the command";
    }
  }
}

// No answer because the client is gone is not the client refusing.
TEST_F(LoaderTest, ReportsAClientThatWentAwayOverTheCommandAsNotRunning) {
  for (const char* leave : {"close", "exit"}) {
    stand_in_client client({"--leave", leave});
    ASSERT_TRUE(client.running()) << leave;
    const loader_run result = run({"load", "away.mrc"});
    EXPECT_EQ(result.output, banner + progress_line("load", "away.mrc") + not_found) << leave;
    EXPECT_EQ(result.exit_status, 2u) << leave;
  }
}

// A test of records: whether `step` has been recorded more than `before` times.
std::function<bool(const std::vector<client_record>&)> more_than(const char* step, size_t before) {
  return
      [=](const std::vector<client_record>& records) { return times_in(records, step) > before; };
}

// mIRC busy with a long script; a loader waiting for its answer is killed (an
// editor cancelling its task) while the next one waits for its turn. The
// killed loader's message is still queued, and still handled.
TEST_F(LoaderTest, ALoaderKilledWhileItsMessageWaitsLeavesTheNextCommandPerformedOnce) {
  client_gate not_busy("ClientBusy");
  ASSERT_NE(not_busy.event.handle, nullptr) << "CreateEventA failed, error " << GetLastError();
  stand_in_client client({"--busy-until", not_busy.name});
  ASSERT_TRUE(client.running());
  const owned_handle lock(CreateMutexA(nullptr, FALSE, sender_lock_name));
  ASSERT_NE(lock.handle, nullptr) << "CreateMutexA failed, error " << GetLastError();

  const std::string killed_path = "C:\\scripts\\cancelled.mrc";
  const std::string next_path = "C:\\scripts\\next.mrc";
  started_loader killed = start_past_progress(killed_path);
  ASSERT_TRUE(client.await_step("waiting", 1))
      << "the first loader's message never came to the busy client";
  started_loader next = start_past_progress(next_path);
  ASSERT_TRUE(await_loaders_at_the_lock(lock.handle, 2))
      << "the next loader never came to wait for its turn";
  kill_loader(killed);
  ASSERT_TRUE(client.await_step("waiting", 2))
      << "once the first loader was killed, the next one's message never came to the busy client";
  not_busy.open();

  const loader_run result = finish_loader(next);
  EXPECT_EQ(result.output, banner + progress_line("load", next_path) + complete);
  EXPECT_EQ(result.exit_status, 0u);
  const std::vector<received_command> received = client.new_commands();
  EXPECT_EQ(times_received(received, command_for("load", next_path)), 1)
      << "times the client performed the next loader's command";
  EXPECT_EQ(times_received(received, command_for("load", killed_path)), 0)
      << "the killed loader's command was performed";
}

// Loaders killed while mIRC had not yet dealt with their messages, as an
// editor cancels a reload that hangs because mIRC is busy; then the user
// saves again. The dead loaders' messages are still handled by mIRC, whether
// or not a loader was waiting for its turn when they died, and whichever
// mIRC they went to: they must find no command, and the next loader's command
// must be performed once, by one mIRC.
TEST_F(LoaderTest, LoadersKilledBeforeMircDealtWithTheirMessagesNeverMakeACommandRunTwice) {
  struct deaths {
    const char* what;
    int killed;                    // loaders killed, one after the other
    bool inside_the_message;       // mIRC is in the first one's message, not yet reading
    bool next_waits_for_its_turn;  // started before the deaths, not after
    bool second_mirc_opens;        // after the deaths' messages went to the first
    const char* first_class;       // which the system's search matches without case
  };
  const deaths cases[] = {
      {"two loaders killed one after the other while their messages wait", 2, false, false, false,
       "mIRC"},
      {"a loader killed while mIRC handles its message", 1, true, false, false, "mIRC"},
      {"a loader killed while the next waits and a second mIRC opens", 1, true, true, true, "mIRC"},
      {"a loader killed while its message waits at a window of class MIRC", 1, false, false, false,
       "MIRC"},
  };
  for (const deaths& c : cases) {
    client_gate first_goes_on("FirstClient");
    client_gate second_goes_on("SecondClient");
    stand_in_client first({c.inside_the_message ? "--hold-until" : "--busy-until",
                           first_goes_on.name, "--class", c.first_class});
    ASSERT_TRUE(first.running()) << c.what;
    const owned_handle lock(CreateMutexA(nullptr, FALSE, sender_lock_name));
    ASSERT_NE(lock.handle, nullptr) << "CreateMutexA failed, error " << GetLastError();

    const auto killed_path = [](int loader) {
      return "C:\\scripts\\cancelled" + std::to_string(loader) + ".mrc";
    };
    const std::string next_path = "C:\\scripts\\saved-again.mrc";
    std::vector<started_loader> killed;
    for (int i = 0; i < c.killed; ++i) {
      killed.push_back(start_past_progress(killed_path(i)));
      if (c.inside_the_message && i == 0) {
        ASSERT_TRUE(first.await_step("busy", 1)) << c.what << ": mIRC never took the message";
      } else {
        ASSERT_TRUE(first.await_step("waiting", i + 1))
            << c.what << ": loader " << i << "'s message never came to the busy mIRC";
      }
      if (!c.next_waits_for_its_turn) kill_loader(killed[i]);
    }
    started_loader next;
    if (c.next_waits_for_its_turn) {
      next = start_past_progress(next_path);
      ASSERT_TRUE(await_loaders_at_the_lock(lock.handle, 1 + c.killed))
          << c.what << ": the next loader never came to wait for its turn";
    }
    std::unique_ptr<stand_in_client> second;
    if (c.second_mirc_opens) {
      second = std::make_unique<stand_in_client>(
          std::vector<std::string>{"--hold-until", second_goes_on.name});
      ASSERT_TRUE(second->running()) << c.what << ": the second mIRC is not the one found";
    }
    const size_t waiting_before = first.times_recorded("waiting");
    if (c.next_waits_for_its_turn) {
      for (started_loader& loader : killed) kill_loader(loader);
    } else {
      next = start_past_progress(next_path);
    }
    // The case is the next loader's message coming while the dead ones' are
    // still unread: at the first mIRC, or, held there, at the second.
    ASSERT_TRUE(second ? await_any({{first, more_than("waiting", waiting_before)},
                                    {*second, more_than("busy", 0)}})
                       : first.await(more_than("waiting", waiting_before)))
        << c.what << ": the next loader's message came to no mIRC";
    first_goes_on.open();
    if (second) {
      ASSERT_TRUE(first.await_step("command", 1))
          << c.what << ": the first mIRC never finished the killed loader's message";
    }
    second_goes_on.open();

    const loader_run result = finish_loader(next);
    EXPECT_EQ(result.output, banner + progress_line("load", next_path) + complete) << c.what;
    EXPECT_EQ(result.exit_status, 0u) << c.what;
    const std::vector<received_command> received = new_commands_of(first, second.get());
    EXPECT_EQ(times_received(received, command_for("load", next_path)), 1)
        << c.what << ": times the next loader's command was performed";
    for (int i = 0; i < c.killed; ++i) {
      EXPECT_EQ(times_received(received, command_for("load", killed_path(i))), 0)
          << c.what << ": a killed loader's command was performed";
    }
  }
}

// Starts a loader and kills it once its command waits, unread, at the mIRC
// window the system's search gives, which must be one that the loader found
// idle and that is busy by then (a client that holds after each WM_NULL).
// False if the command never got there.
bool leave_a_killed_loaders_command_waiting(const stand_in_client& busy, const std::string& path) {
  const size_t waiting = busy.times_recorded("waiting");
  started_loader killed = start_loader(arguments{"load", path});
  const bool arrived = busy.await_step("waiting", waiting + 1);
  kill_loader(killed);
  return arrived;
}

// The next loader's run, once a killed loader's command waits at the busy
// client behind `busy_gate`: that gate opens once the next loader's message
// has come to the busy client, or its command to the other one, which holds
// it until the busy one has read the killed loader's command. So a command
// written too early is read for the killed loader's message too.
loader_run run_next_loader_then_open(const std::string& path, stand_in_client& busy,
                                     client_gate& busy_gate, stand_in_client& other,
                                     client_gate& other_gate) {
  const size_t waiting = busy.times_recorded("waiting");
  const size_t holding = other.times_recorded("busy");
  const size_t read = busy.times_recorded("command");
  started_loader next = start_loader(arguments{"load", path});
  EXPECT_TRUE(
      await_any({{busy, more_than("waiting", waiting)}, {other, more_than("busy", holding)}}))
      << path << ": the next loader's message came to neither mIRC";
  busy_gate.open();
  EXPECT_TRUE(busy.await_step("command", read + 1))
      << path << ": the busy mIRC never read the killed loader's command";
  other_gate.open();
  return finish_loader(next);
}

bool went_to_the_bottom_since_its_last_null(const std::vector<client_record>& records) {
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    if (record->step == "bottom") return true;
    if (record->step == "null") return false;
  }
  return false;
}

// A killed loader's command waits at a busy mIRC window, and another mIRC
// window keeps moving between the top and the bottom of the z-order, as a
// user switching between two mIRCs does, only faster, while the next loader
// lists the windows to ask: however they stand at each moment, no window is
// missed, and the next command is performed once. The other mIRC holds each
// command until the busy one has read the killed loader's, so that a command
// sent there while the busy one was missed is still in the mapping then.
TEST_F(LoaderTest, AMircMovingInTheZOrderHidesNoBusyMircFromTheNextLoader) {
  client_gate busy_gate("HoldAfterNull");
  client_gate other_gate("OtherHold");
  client_gate restacking("Restack");
  stand_in_client busy({"--hold-after-null", busy_gate.name});
  ASSERT_TRUE(busy.running());
  stand_in_client other({"--hold-until", other_gate.name, "--restack-while", restacking.name});
  ASSERT_TRUE(other.running());

  constexpr int rounds = 30;
  for (int round = 0; round < rounds; ++round) {
    const std::string killed_path = "C:\\scripts\\cancelled" + std::to_string(round) + ".mrc";
    const std::string next_path = "C:\\scripts\\saved" + std::to_string(round) + ".mrc";
    busy_gate.shut();
    other_gate.shut();
    restacking.shut();
    // Still, the moving window goes to the bottom: the killed loader's
    // command goes to the busy one. The moving client reads messages
    // between two moves: once it has answered one, it finds the event
    // unset, goes to the bottom and records that.
    SendMessageA(other.window(), WM_NULL, 0, 0);
    ASSERT_TRUE(other.await(went_to_the_bottom_since_its_last_null))
        << "round " << round << ": the moving mIRC never went still";
    ASSERT_EQ(FindWindowA(client_window_class, nullptr), busy.window())
        << "round " << round << ": the moving mIRC, still, is not below the busy one";
    ASSERT_TRUE(leave_a_killed_loaders_command_waiting(busy, killed_path))
        << "round " << round << ": the killed loader's command never came to the busy mIRC";
    restacking.open();
    const loader_run result =
        run_next_loader_then_open(next_path, busy, busy_gate, other, other_gate);
    restacking.shut();

    EXPECT_EQ(result.output, banner + progress_line("load", next_path) + complete)
        << "round " << round;
    EXPECT_EQ(result.exit_status, 0u) << "round " << round;
    const std::vector<received_command> received = new_commands_of(busy, &other);
    EXPECT_EQ(times_received(received, command_for("load", next_path)), 1)
        << "round " << round << ": times the next loader's command was performed";
    EXPECT_EQ(times_received(received, command_for("load", killed_path)), 0)
        << "round " << round << ": the killed loader's command was performed";
  }
}

// The system's search for a class gives message-only windows as well as
// top-level ones: with only a message-only mIRC open, a loader's command
// goes there. Killed while it waits at that busy window, the loader leaves
// its message behind, and a top-level mIRC that opens then comes first in
// the search; the next command must still be performed once.
TEST_F(LoaderTest, ALoaderKilledAtABusyMessageOnlyMircLeavesTheNextCommandPerformedOnce) {
  client_gate busy_gate("MessageOnlyHold");
  client_gate top_level_gate("TopLevelHold");
  stand_in_client busy({"--message-only", "--hold-after-null", busy_gate.name});
  ASSERT_TRUE(busy.running());
  ASSERT_EQ(FindWindowA(client_window_class, nullptr), busy.window())
      << "the system's search does not give the only mIRC window, a message-only one";
  const std::string killed_path = "C:\\scripts\\cancelled.mrc";
  const std::string next_path = "C:\\scripts\\next.mrc";
  ASSERT_TRUE(leave_a_killed_loaders_command_waiting(busy, killed_path))
      << "the killed loader's command never came to the busy mIRC";

  stand_in_client top_level({"--hold-until", top_level_gate.name});
  ASSERT_TRUE(top_level.running());
  const loader_run result =
      run_next_loader_then_open(next_path, busy, busy_gate, top_level, top_level_gate);

  EXPECT_EQ(result.output, banner + progress_line("load", next_path) + complete);
  EXPECT_EQ(result.exit_status, 0u);
  const std::vector<received_command> received = new_commands_of(busy, &top_level);
  EXPECT_EQ(times_received(received, command_for("load", next_path)), 1)
      << "times the next loader's command was performed";
  EXPECT_EQ(times_received(received, command_for("load", killed_path)), 0)
      << "the killed loader's command was performed";
}

// A class name that compares equal to "mIRC" only by a looser rule than the
// system's search (a soft hyphen, which case-insensitive string comparison
// ignores) is no client: a hung window of that class must hold no loader up.
TEST_F(LoaderTest, AHungWindowWhoseClassOnlyLooksLikeMircHoldsNoLoaderUp) {
  client_gate look_alike_goes_on("LookAlikeBusy");
  stand_in_client look_alike({"--busy-until", look_alike_goes_on.name, "--class", "mI\xADRC"});
  ASSERT_TRUE(look_alike.running());
  stand_in_client client;
  ASSERT_TRUE(client.running());

  started_loader loader = start_loader(arguments{"load", "away.mrc"});
  const bool ended_by_itself = WaitForSingleObject(loader.process, step_limit_ms) == WAIT_OBJECT_0;
  look_alike_goes_on.open();  // so that a loader held up by it ends all the same
  const loader_run result = finish_loader(loader);
  EXPECT_TRUE(ended_by_itself) << "the loader waited for the hung look-alike window";
  EXPECT_EQ(result.output, banner + progress_line("load", "away.mrc") + complete);
  EXPECT_EQ(result.exit_status, 0u);
  EXPECT_EQ(times_received(client.new_commands(), command_for("load", "away.mrc")), 1)
      << "times the mIRC window performed the command";
  EXPECT_TRUE(look_alike.new_commands().empty()) << "the look-alike window got a command";
}

// Whether a view of the mapping has pages reserved but none committed.
bool view_is_only_reserved(HANDLE mapping) {
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (!view) return false;
  MEMORY_BASIC_INFORMATION region = {};
  const bool reserved =
      VirtualQuery(view, &region, sizeof region) == sizeof region && region.State == MEM_RESERVE;
  UnmapViewOfFile(view);
  return reserved;
}

// Another program holds the client's name with a mapping whose memory is
// reserved, not committed: writing into it would kill the loader.
TEST_F(LoaderTest, ReportsAMappingWithoutCommittedMemory) {
  stand_in_client client;
  ASSERT_TRUE(client.running());
  {
    const owned_handle reserved(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr,
                                                   PAGE_READWRITE | SEC_RESERVE, 0,
                                                   command_capacity, client_mapping_name));
    ASSERT_NE(reserved.handle, nullptr) << "CreateFileMappingA failed, error " << GetLastError();
    ASSERT_TRUE(view_is_only_reserved(reserved.handle))
        << "a view of a SEC_RESERVE mapping is not reported as reserved: the case under test "
           "cannot happen here";

    expect_mapping_refused(client);
  }
  expect_no_names_left_open("");
}

}  // namespace
