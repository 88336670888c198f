#include "host/script_runner.h"

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "host/button.h"
#include "host/check_box.h"
#include "host/command_failure.h"
#include "host/label.h"
#include "host/list.h"
#include "host/panel.h"
#include "host/script_parser.h"
#include "host/text_box.h"
#include "platform/error.h"
#include "platform/message_loop.h"
#include "platform/text.h"

namespace host {

namespace {

std::wstring Wide(const std::string& utf8) { return platform::Utf8ToWide(utf8); }

std::wstring KindWord(ControlKind kind) {
  return Wide(std::string(KindName(kind)));
}

std::wstring Describe(const platform::Error& error) {
  std::wstring text = L"error " + std::to_wstring(error.number());
  if (!error.description().empty()) text += L": " + error.description();
  return text;
}

}  // namespace

ScriptRunner::ScriptRunner(HostSession& session, EventSink& sink)
    : session_(session), sink_(sink) {}

void ScriptRunner::Run(std::istream& script) {
  std::string line;
  size_t line_number = 0;
  while (std::getline(script, line)) {
    if (!RunLine(line, ++line_number)) return;
  }
}

bool ScriptRunner::RunLine(std::string_view line, size_t line_number) {
  const std::wstring where = L"line " + std::to_wstring(line_number) + L": ";
  ParsedLine parsed = ParseScriptLine(line);
  switch (parsed.status) {
    case ParsedLine::Status::kSkip:
      return true;
    case ParsedLine::Status::kError:
      sink_.HostError(where + Wide(parsed.error));
      return true;
    case ParsedLine::Status::kCommand:
      break;
  }
  if (parsed.command.kind == CommandKind::kQuit) return false;
  const std::wstring what = where + Wide(std::string(line.substr(0, line.find(' ')))) + L": ";
  // Nothing the plug-in or the platform raises may end the host.
  try {
    Execute(parsed.command);
  } catch (const CommandFailure& failure) {
    sink_.HostError(what + failure.text());
  } catch (const platform::Error& error) {
    sink_.HostError(what + Describe(error));
  } catch (const std::exception& error) {
    sink_.HostError(what + Wide(error.what()));
  } catch (...) {
    sink_.HostError(what + L"an unknown exception");
  }
  return true;
}

void ScriptRunner::Execute(const ScriptCommand& command) {
  switch (command.kind) {
    case CommandKind::kInit:
      session_.Init(command.with_site);
      break;
    case CommandKind::kTerminate:
      session_.Terminate();
      break;
    case CommandKind::kRelease:
      session_.Release();
      break;
    case CommandKind::kUnload:
      session_.Unload();
      break;
    case CommandKind::kLogin:
      session_.Login(Wide(command.text));
      break;
    case CommandKind::kType:
      ControlOf<TextBox>(command.control, ControlKind::kTextBox)->SetText(Wide(command.text));
      break;
    case CommandKind::kLabel:
      ControlOf<Label>(command.control, ControlKind::kLabel)->SetText(Wide(command.text));
      break;
    case CommandKind::kClick:
      ControlOf<Button>(command.control, ControlKind::kButton)->Click();
      break;
    case CommandKind::kCheck:
    case CommandKind::kUncheck:
      ControlOf<CheckBox>(command.control, ControlKind::kCheckBox)
          ->SetChecked(command.kind == CommandKind::kCheck);
      break;
    case CommandKind::kSelect:
      ControlOf<List>(command.control, ControlKind::kList)->Select(command.column, command.row);
      break;
    case CommandKind::kWait:
      platform::MessageLoop::Current().RunUntilIdle(
          std::chrono::milliseconds(command.milliseconds));
      break;
    case CommandKind::kAdvance:
      platform::MessageLoop::Current().Advance(std::chrono::milliseconds(command.milliseconds));
      break;
    case CommandKind::kDump:
      Dump(command.control);
      break;
    case CommandKind::kEcho:
      sink_.Echo(Wide(command.text));
      break;
    case CommandKind::kQuit:
      break;
  }
}

void ScriptRunner::Dump(const std::string& control) {
  std::shared_ptr<Panel> panel = session_.CurrentPanel();
  if (!panel) throw CommandFailure(L"no panel has been built");
  if (control.empty()) {
    sink_.PanelDump(panel->Snapshot());
    return;
  }
  std::shared_ptr<HostControl> found = panel->Find(Wide(control));
  if (!found) throw CommandFailure(L"No control named " + Wide(control));
  sink_.PanelDump(std::vector<ControlSnapshot>{found->Snapshot()});
}

template <class T>
std::shared_ptr<T> ScriptRunner::ControlOf(const std::string& name, ControlKind kind) {
  std::shared_ptr<Panel> panel = session_.CurrentPanel();
  if (!panel) throw CommandFailure(L"no panel has been built (init first)");
  const std::wstring wide_name = Wide(name);
  std::shared_ptr<HostControl> found = panel->Find(wide_name);
  if (!found) throw CommandFailure(L"No control named " + wide_name);
  auto control = std::dynamic_pointer_cast<T>(found);
  if (found->kind() != kind || !control) {
    throw CommandFailure(wide_name + L" is a " + KindWord(found->kind()) + L", not a " +
                         KindWord(kind));
  }
  return control;
}

}  // namespace host
