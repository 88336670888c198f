// marlgate-host.exe: the reference host on Windows, in script mode. It
// enters a single-threaded COM apartment, registers its Timer class for its
// own process, registers the plug-in library and creates its Main with
// CoCreateInstance, gives it the site's COM object (the host contract), and
// drives it from a script; the message loop (the thread's Windows message
// queue) runs inside `wait` and `advance`, and the host's timers run on
// that loop's clock. Events go to standard output as JSON lines
// (or text), the host's own diagnostics to standard error, as in the Linux
// host (docs/host-script-mode.md).
//
// --connect-to works as on Linux: the request object opens the rewritten
// URL and keeps the original host in the Host header.
//
// Exit status: 0 when the script ran to its end or to `quit`; non-zero only
// when the host could not start (bad options, an unreadable script, no COM).

#include <windows.h>
#include <objbase.h>
#include <fcntl.h>
#include <io.h>

#include <CLI/CLI.hpp>
#include <cstdio>
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
#include "host/windows/timer_class_registration.h"
#include "platform/http_settings.h"
#include "platform/text.h"

namespace {

constexpr int kStartFailure = 1;
constexpr int kUsageFailure = 2;

// The folder of the running executable: the plug-in is looked for beside
// it, as in an install or the build tree.
std::filesystem::path ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::filesystem::current_path();
    if (length < path.size()) {
      path.resize(length);
      return std::filesystem::path(path).parent_path();
    }
    path.resize(path.size() * 2);
  }
}

// A path given on the command line (UTF-8 here) as a file system path.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(platform::Utf8ToWide(utf8));
}

// The thread's COM apartment, for the lifetime of the host session.
class ComApartment {
 public:
  ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

int Run(int argc, char** argv) {
  CLI::App app{"The reference host of the Marlgate Travels plug-in on Windows (script mode)",
               "marlgate-host"};
  std::string plugin;
  std::string script;
  std::vector<std::string> connect_to;
  app.add_option("--plugin", plugin,
                 "The plug-in library (default: marlgate_travels.dll beside the host)")
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
  app.add_option("--script", script, "Commands to run, from FILE or - for standard input")
      ->type_name("FILE|-");
  std::string format = "json";
  app.add_option("--format", format,
                 "How events are printed: json (one object per line) or text (for people)")
      ->check(CLI::IsMember({"json", "text"}));
  CLI11_PARSE(app, argc, argv);

  if (script.empty()) {
    std::cerr << "marlgate-host: --script FILE|- is required (the Windows host has no "
                 "interactive mode)\n"
              << app.help();
    return kUsageFailure;
  }

  try {
    const std::filesystem::path plugin_path = std::filesystem::absolute(
        plugin.empty() ? ExecutableFolder() / L"marlgate_travels.dll" : PathOf(plugin));

    std::ifstream script_file;
    std::istream* input = &std::cin;
    if (script != "-") {
      std::error_code error;
      if (std::filesystem::is_directory(PathOf(script), error)) {
        std::cerr << "marlgate-host: the script " << script << " is a folder\n";
        return kStartFailure;
      }
      // Binary: a line's text is what the file holds, to its LF.
      script_file.open(PathOf(script), std::ios::binary);
      if (!script_file.is_open()) {
        std::cerr << "marlgate-host: cannot read the script " << script << "\n";
        return kStartFailure;
      }
      input = &script_file;
    }

    ComApartment apartment;
    if (FAILED(apartment.result())) {
      std::cerr << "marlgate-host: COM cannot be started on this thread\n";
      return kStartFailure;
    }
    // Revoked at the end of the block, after the session has let the
    // plug-in go and before COM ends.
    host::windows::TimerClassRegistration timer_class;
    // The plug-in has its own copy of the platform: the entries reach it
    // through the process environment (platform/http_settings.h).
    platform::SetConnectTo(connect_to);
    std::string joined;
    for (const std::string& entry : connect_to) joined += (joined.empty() ? "" : ",") + entry;
    if (!connect_to.empty()) {
      ::SetEnvironmentVariableW(platform::Utf8ToWide(platform::kConnectToVariable).c_str(),
                                platform::Utf8ToWide(joined).c_str());
    }

    std::shared_ptr<host::EventSink> sink;
    if (format == "text") {
      sink = std::make_shared<host::TextEventWriter>(std::cout);
    } else {
      sink = std::make_shared<host::JsonEventWriter>(std::cout);
    }
    {
      host::HostSession session(sink, platform::WideToUtf8(plugin_path.wstring()), std::cerr);
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

}  // namespace

int wmain(int argc, wchar_t** wargv) {
  // Events are UTF-8 lines ending in LF, and a script read from standard
  // input is taken as it is: no CR LF translation either way.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stdin), _O_BINARY);

  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(platform::WideToUtf8(wargv[i]));
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return Run(argc, argv.data());
}
