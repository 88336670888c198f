// marlgate-host: the reference host. Loads the plug-in library, gives it a
// site, and drives it from a script (events go to standard output as JSON
// lines, the host's own diagnostics to standard error) or, on a terminal,
// lets a person use the panel and the chat interactively.
//
// Mode: --script runs a script. Without it the host is interactive when
// standard input and output are a terminal, or when --interactive asks for
// it; otherwise that is a usage error.
//
// Exit status: 0 when the script ran to its end or to `quit`, or the player
// left the interactive screen; non-zero only when the host could not start
// (bad options, an unreadable script, a plug-in or terminal that cannot be
// used in interactive mode).

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "host/command_failure.h"
#include "host/connect_to.h"
#include "host/host_session.h"
#include "host/json_event_writer.h"
#include "host/script_runner.h"
#include "host/text_event_writer.h"
#include "host/tui/chat_log.h"
#include "host/tui/chat_sink.h"
#include "host/tui/interactive_host.h"
#include "platform/component.h"
#include "platform/error.h"
#include "platform/http_settings.h"
#include "platform/text.h"

namespace {

constexpr int kStartFailure = 1;
constexpr int kUsageFailure = 2;

// The folder of the running executable: the plug-in and the registry are
// looked for beside it, as in an install or the build tree.
std::filesystem::path ExecutableFolder() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path();
  return exe.parent_path();
}

// The interactive mode: starts the plug-in as the game would (Initialize
// with the site, then the character's login), runs the terminal screen
// until the player leaves, and terminates the plug-in. A plug-in library
// that cannot be loaded, or a terminal that cannot be used, is a start
// failure reported on standard error.
int RunInteractive(const std::string& plugin_path, const std::string& character) {
  // The terminal's characters follow the user's locale. Numbers are read
  // and written the same way everywhere, so LC_NUMERIC stays "C".
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");

  auto chat = std::make_shared<host::tui::ChatLog>();
  auto sink = std::make_shared<host::tui::ChatSink>(chat);
  host::HostSession session(sink, plugin_path, std::cerr);
  try {
    session.Init(true);
    session.Login(platform::Utf8ToWide(character));
  } catch (const host::CommandFailure& failure) {
    std::cerr << "marlgate-host: " << failure.what() << "\n";
    return kStartFailure;
  } catch (const platform::Error& error) {
    std::cerr << "marlgate-host: starting the plug-in failed: " << error.what() << "\n";
    return kStartFailure;
  }

  int status = 0;
  try {
    host::tui::InteractiveHost screen(session.CurrentPanel(), *chat, *sink);
    screen.Run();
  } catch (const std::exception& error) {
    std::cerr << "marlgate-host: the terminal cannot be used: " << error.what() << "\n";
    status = kStartFailure;
  }
  try {
    session.Terminate();
  } catch (const std::exception& error) {
    std::cerr << "marlgate-host: terminating the plug-in failed: " << error.what() << "\n";
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The reference host of the Marlgate Travels plug-in (script mode, or "
               "interactive on a terminal)",
               "marlgate-host"};
  std::string plugin;
  std::string registry;
  std::string script;
  std::vector<std::string> connect_to;
  app.add_option("--plugin", plugin,
                 "The plug-in library (default: marlgate_travels.so beside the host)")
      ->type_name("PATH");
  app.add_option("--connect-to", connect_to,
                 "HOST:PORT:ADDR:PORT: send requests for HOST:PORT to ADDR:PORT (repeatable)")
      ->type_name("HOST:PORT:ADDR:PORT")
      ->allow_extra_args(false)
      ->check(CLI::Validator(
          [](std::string& value) {
            return host::IsConnectToEntry(value) ? std::string()
                                                 : "not of the form HOST:PORT:ADDR:PORT";
          },
          ""));
  app.add_option("--registry", registry,
                 "The component registry file (default: marlgate-host.registry beside the host)")
      ->type_name("FILE");
  CLI::Option* script_option =
      app.add_option("--script", script, "Commands to run, from FILE or - for standard input")
          ->type_name("FILE|-");
  bool interactive = false;
  app.add_flag("--interactive", interactive,
               "Show the panel and the chat on the terminal (the default without --script "
               "when standard input and output are a terminal)")
      ->excludes(script_option);
  std::string character = "Player";
  app.add_option("--character", character,
                 "The character's name the interactive mode logs in with (default: Player)")
      ->type_name("NAME");
  std::string format = "json";
  app.add_option("--format", format,
                 "How events are printed: json (one object per line) or text (for people)")
      ->check(CLI::IsMember({"json", "text"}));
  CLI11_PARSE(app, argc, argv);

  if (script.empty() && !interactive) {
    interactive = ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
  }
  if (script.empty() && !interactive) {
    std::cerr << "marlgate-host: --script FILE|- is required when standard input and output "
                 "are not a terminal (or ask for --interactive)\n"
              << app.help();
    return kUsageFailure;
  }

  try {
    const std::filesystem::path folder = ExecutableFolder();
    const std::string plugin_path = std::filesystem::absolute(
        plugin.empty() ? folder / "marlgate_travels.so" : std::filesystem::path(plugin));
    const std::string registry_path = std::filesystem::absolute(
        registry.empty() ? folder / "marlgate-host.registry" : std::filesystem::path(registry));

    if (interactive) {
      platform::ComponentRegistry::SetPath(registry_path);
      platform::SetConnectTo(connect_to);
      return RunInteractive(plugin_path, character);
    }

    std::ifstream script_file;
    std::istream* input = &std::cin;
    if (script != "-") {
      std::error_code error;
      if (std::filesystem::is_directory(script, error)) {
        std::cerr << "marlgate-host: the script " << script << " is a folder\n";
        return kStartFailure;
      }
      script_file.open(script);
      if (!script_file.is_open()) {
        std::cerr << "marlgate-host: cannot read the script " << script << "\n";
        return kStartFailure;
      }
      input = &script_file;
    }

    platform::ComponentRegistry::SetPath(registry_path);
    platform::SetConnectTo(connect_to);

    std::shared_ptr<host::EventSink> sink;
    if (format == "text") {
      sink = std::make_shared<host::TextEventWriter>(std::cout);
    } else {
      sink = std::make_shared<host::JsonEventWriter>(std::cout);
    }
    {
      host::HostSession session(sink, plugin_path, std::cerr);
      host::ScriptRunner runner(session, *sink);
      runner.Run(*input);
    }
    if (input->bad()) std::cerr << "marlgate-host: reading the script failed\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "marlgate-host: " << e.what() << "\n";
    return kStartFailure;
  }
}
