#include "host/json_event_writer.h"

#include <nlohmann/json.hpp>
#include <variant>

#include "platform/text.h"

namespace host {

namespace {

using Json = nlohmann::ordered_json;

Json Utf8(const std::wstring& text) { return Json(platform::WideToUtf8(text)); }

Json CellJson(const platform::Variant& value) {
  if (const auto* text = std::get_if<std::wstring>(&value)) return Utf8(*text);
  if (const auto* number = std::get_if<int32_t>(&value)) return Json(*number);
  return Json(nullptr);
}

Json RowsJson(const ListRows& rows) {
  Json json = Json::array();
  for (const ListRow& row : rows) {
    Json row_json = Json::array();
    for (const ListColumn& column : row) {
      Json column_json = Json::array();
      for (const platform::Variant& value : column) column_json.push_back(CellJson(value));
      row_json.push_back(std::move(column_json));
    }
    json.push_back(std::move(row_json));
  }
  return json;
}

Json ControlJson(const ControlSnapshot& control) {
  Json json = Json::object();
  json["kind"] = std::string(KindName(control.kind));
  switch (control.kind) {
    case ControlKind::kTextBox:
    case ControlKind::kLabel:
      json["text"] = Utf8(control.text);
      break;
    case ControlKind::kCheckBox:
      json["checked"] = control.checked;
      break;
    case ControlKind::kList:
      json["rows"] = RowsJson(control.rows);
      break;
    case ControlKind::kButton:
      break;
  }
  return json;
}

Json TextEvent(const char* event, const std::wstring& text) {
  Json json = Json::object();
  json["event"] = event;
  json["text"] = Utf8(text);
  return json;
}

std::string Serialize(const Json& json) {
  // The text was converted from wide text and so is valid UTF-8; replacing
  // rather than raising keeps a stray byte from ever losing an event.
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

void JsonEventWriter::Chat(const std::wstring& text, int32_t colour, int32_t /*window*/) {
  Json json = TextEvent("chat", text);
  json["colour"] = colour;
  WriteLine(Serialize(json));
}

void JsonEventWriter::Command(const std::wstring& text) {
  WriteLine(Serialize(TextEvent("command", text)));
}

void JsonEventWriter::PanelDump(const std::vector<ControlSnapshot>& controls) {
  Json json = Json::object();
  json["event"] = "panel";
  Json controls_json = Json::object();
  for (const ControlSnapshot& control : controls) {
    controls_json[platform::WideToUtf8(control.name)] = ControlJson(control);
  }
  json["controls"] = std::move(controls_json);
  WriteLine(Serialize(json));
}

void JsonEventWriter::Echo(const std::wstring& text) {
  WriteLine(Serialize(TextEvent("echo", text)));
}

void JsonEventWriter::HostError(const std::wstring& text) {
  WriteLine(Serialize(TextEvent("host-error", text)));
}

void JsonEventWriter::WriteLine(const std::string& line) {
  out_ << line << '\n';
  out_.flush();
}

}  // namespace host
