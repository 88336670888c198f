#include "host/text_event_writer.h"

#include <variant>

#include "platform/text.h"

namespace host {

namespace {

std::string Utf8(const std::wstring& text) { return platform::WideToUtf8(text); }

std::string ColourName(int32_t colour) {
  switch (colour) {
    case 14: return "chat info   ";
    case 4: return "chat warning";
    case 8: return "chat error  ";
    default: return "chat " + std::to_string(colour);
  }
}

// A list row as one line: column 0 as text, an integer cell as "[icon]".
std::string RowText(const ListRow& row) {
  std::string text;
  for (size_t c = 0; c < row.size(); ++c) {
    for (const platform::Variant& value : row[c]) {
      if (const auto* s = std::get_if<std::wstring>(&value)) {
        if (!text.empty()) text += "  ";
        text += "\"" + Utf8(*s) + "\"";
      } else if (std::holds_alternative<int32_t>(value)) {
        text += "  [icon]";
      }
    }
  }
  return text.empty() ? "(empty)" : text;
}

}  // namespace

void TextEventWriter::Chat(const std::wstring& text, int32_t colour, int32_t /*window*/) {
  WriteLine(ColourName(colour) + " | " + Utf8(text));
}

void TextEventWriter::Command(const std::wstring& text) {
  WriteLine("to chat      > " + Utf8(text));
}

void TextEventWriter::PanelDump(const std::vector<ControlSnapshot>& controls) {
  for (const ControlSnapshot& control : controls) {
    std::string head = "  " + Utf8(control.name) + " (" + std::string(KindName(control.kind)) + ")";
    switch (control.kind) {
      case ControlKind::kTextBox:
      case ControlKind::kLabel:
        WriteLine(head + ": \"" + Utf8(control.text) + "\"");
        break;
      case ControlKind::kCheckBox:
        WriteLine(head + ": " + (control.checked ? "ticked" : "not ticked"));
        break;
      case ControlKind::kButton:
        WriteLine(head);
        break;
      case ControlKind::kList:
        WriteLine(head + ": " + std::to_string(control.rows.size()) +
                  (control.rows.size() == 1 ? " row" : " rows"));
        for (size_t r = 0; r < control.rows.size(); ++r) {
          WriteLine("    " + std::to_string(r) + ". " + RowText(control.rows[r]));
        }
        break;
    }
  }
}

void TextEventWriter::Echo(const std::wstring& text) { WriteLine("== " + Utf8(text)); }

void TextEventWriter::HostError(const std::wstring& text) { WriteLine("host error: " + Utf8(text)); }

void TextEventWriter::WriteLine(const std::string& line) {
  try {
    out_ << line << '\n';
    out_.flush();
  } catch (...) {
    // The sink never raises: the calls come straight from the plug-in.
  }
}

}  // namespace host
