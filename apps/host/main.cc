// marlgate-host: the reference host. Loads the plug-in library, gives it a
// site, and drives it from a script; events go to standard output as JSON
// lines, the host's own diagnostics to standard error.
//
// Exit status: 0 when the script ran to its end or to `quit`; non-zero only
// when the host could not start (bad options, an unreadable script).

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "host/connect_to.h"
#include "host/host_session.h"
#include "host/json_event_writer.h"
#include "host/script_runner.h"
#include "host/text_event_writer.h"
#include "platform/component.h"
#include "platform/http_settings.h"

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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The reference host of the Marlgate Travels plug-in (script mode)",
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
  app.add_option("--script", script, "Commands to run, from FILE or - for standard input")
      ->type_name("FILE|-");
  std::string format = "json";
  app.add_option("--format", format,
                 "How events are printed: json (one object per line) or text (for people)")
      ->check(CLI::IsMember({"json", "text"}));
  CLI11_PARSE(app, argc, argv);

  if (script.empty()) {
    std::cerr << "marlgate-host: --script FILE|- is required (interactive mode is not "
                 "available)\n"
              << app.help();
    return kUsageFailure;
  }

  try {
    const std::filesystem::path folder = ExecutableFolder();
    const std::string plugin_path = std::filesystem::absolute(
        plugin.empty() ? folder / "marlgate_travels.so" : std::filesystem::path(plugin));
    const std::string registry_path = std::filesystem::absolute(
        registry.empty() ? folder / "marlgate-host.registry" : std::filesystem::path(registry));

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
