#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "host/control_kind.h"
#include "host/event_sink.h"
#include "host/host_session.h"
#include "host/script_command.h"

namespace host {

// Runs script commands against a session, one at a time, on the calling
// thread. A command that cannot be carried out, and any error raised by the
// plug-in or the platform while it runs, becomes a host-error event; the
// script then goes on. The message loop runs only inside `wait` and
// `advance`.
class ScriptRunner {
 public:
  ScriptRunner(HostSession& session, EventSink& sink);

  // Runs the lines of `script` until its end or `quit`.
  void Run(std::istream& script);
  // Runs one line (numbered from 1 for messages); false after `quit`.
  bool RunLine(std::string_view line, size_t line_number);

 private:
  void Execute(const ScriptCommand& command);
  void Dump(const std::string& control);
  // The control named `name` (UTF-8) of the current panel, as the host
  // class T of kind `kind`; CommandFailure when there is no panel, no such
  // control, or one of another kind.
  template <class T>
  std::shared_ptr<T> ControlOf(const std::string& name, ControlKind kind);

  HostSession& session_;
  EventSink& sink_;
};

}  // namespace host
