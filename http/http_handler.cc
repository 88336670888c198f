#include "http/http_handler.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cwctype>

#include "hub/error_trap.h"
#include "hub/plugin_name.h"
#include "platform/env.h"
#include "platform/error.h"
#include "plugin/plugin_state.h"

namespace {

// Position of the first "Error:" in `text`, letter case ignored; npos if none.
size_t FindErrorMark(const std::wstring& text) {
  static constexpr std::wstring_view kMark = L"error:";
  if (text.size() < kMark.size()) return std::wstring::npos;
  for (size_t i = 0; i + kMark.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < kMark.size() && static_cast<wchar_t>(std::towlower(text[i + k])) == kMark[k]) ++k;
    if (k == kMark.size()) return i;
  }
  return std::wstring::npos;
}

std::mt19937 SeededGenerator() {
  try {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937(seed);
  } catch (...) {
    // No entropy source: the clock still gives every load its own sequence.
    return std::mt19937(static_cast<uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
  }
}

}  // namespace

std::wstring RandomFieldText(float value) {
  double v = static_cast<double>(value);
  if (!(v > 0.0)) return L" 0";
  // Seven significant digits, written in plain decimal: as many decimals as
  // the number's magnitude needs.
  int magnitude = static_cast<int>(std::floor(std::log10(v)));  // -1 for 0.7
  int decimals = std::max(0, 6 - magnitude);
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
  std::string text(buffer, result.ptr);
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  if (text.size() > 1 && text[0] == '0' && text[1] == '.') text.erase(0, 1);
  if (text.empty()) text.push_back('0');
  return L" " + std::wstring(text.begin(), text.end());
}

httpHandler::httpHandler() : random_(SeededGenerator()) {
  platform::Env* env = platform::Env::Current();
  NoResponseTimer = env->CreateTimer();
  timeout_connection_ = NoResponseTimer->Timeout.Connect([this](platform::Timer& source) {
    std::shared_ptr<httpHandler> keep = weak_from_this().lock();
    NoResponseTimer_Timeout(source);
  });
  CreateRequestObject();
}

httpHandler::~httpHandler() {
  try {
    Abort();
  } catch (...) {
    // Teardown goes on whatever Abort met: the objects are released below.
  }
  timeout_connection_.reset();
  NoResponseTimer.reset();
  request_.reset();
}

void httpHandler::CreateRequestObject() {
  request_ = platform::Env::Current()->CreateHttpRequest();
  // Non-owning: the handler owns the request object and outlives it. An
  // event handler may release the last reference to this handler: it is
  // kept until the notification is over.
  request_->SetReadyStateHandler([this] {
    std::shared_ptr<httpHandler> keep = weak_from_this().lock();
    ReadyStateChange();
  });
}

bool httpHandler::isRunning() const {
  int32_t state = request_->ReadyState();
  return state != 0 && state != 4;
}

void httpHandler::Abort() {
  if (NoResponseTimer->Running()) NoResponseTimer->Stop();
  request_->Abort();
}

void httpHandler::PostRequest(const std::wstring& URL, const std::wstring& Mode,
                              const std::optional<platform::Variant>& ArgsArr, int32_t msTimeOut) {
  Hub::ErrorTrap trap(L"httpHandler.PostRequest", Hub::ErrorTrap::kReportAndLeave);  // step 4546
  trap.Run([&] {
    trap.Step(4554, [&] {
      if (request_.empty()) CreateRequestObject();
      request_->Open(L"POST", URL, true);
    });
    trap.Step(4556, [&] {
      request_->SetRequestHeader(L"Content-Type", L"application/x-www-form-urlencoded");
    });
    trap.Step(4558, [&] { request_->SetRequestHeader(L"X-Plugin-Name", Hub::PluginName); });
    trap.Step(4560, [&] {
      request_->SetRequestHeader(L"X-Plugin-Version", std::to_wstring(Hub::kVersionMajor) + L"." +
                                                          std::to_wstring(Hub::kVersionMinor) + L"." +
                                                          std::to_wstring(Hub::kVersionRevision));
    });
    std::wstring body;
    trap.Step(4568, [&] {
      if (!ArgsArr) platform::Raise(platform::kErrInvalidArgument, L"Argument not optional");
      // The value is encoded like the character name, so that "&", "=" or
      // "+" in search words cannot end the field or add fields of their own.
      body = L"&travel_action=" + Mode;
      body += L"&Value=" + URLEncode(platform::VariantText(*ArgsArr));
      body += L"&currentcharacter=" + URLEncode(Hub::PluginState().CurrentCharacter);
      body += L"&random=" + NextRandomText();
    });
    trap.Step(4570, [&] { request_->Send(body); });
    trap.Step(4572, [&] { NoResponseTimer->Start(msTimeOut); });
  });
}

std::wstring httpHandler::URLEncode(std::wstring text) {
  Hub::ErrorTrap trap(L"httpHandler.URLEncode", Hub::ErrorTrap::kReportAndLeave);  // step 4708
  std::wstring result;
  trap.Run([&] {
    struct Replacement {
      int32_t line;
      wchar_t from;
      const wchar_t* to;
    };
    // "%" first, so that the escapes of the later steps are not escaped again.
    static constexpr Replacement kSteps[] = {
        {4710, L'%', L"%25"}, {4712, L' ', L"%20"}, {4714, L'+', L"%2B"},
        {4716, L'&', L"%26"}, {4718, L'=', L"%3D"}, {4720, L'?', L"%3F"},
    };
    for (const Replacement& step : kSteps) {
      trap.Step(step.line, [&] {
        if (text.find(step.from) == std::wstring::npos) return;
        std::wstring next;
        next.reserve(text.size() + 8);
        for (wchar_t c : text) {
          if (c == step.from) {
            next += step.to;
          } else {
            next += c;
          }
        }
        text.swap(next);
      });
      result = text;
    }
  });
  return result;
}

std::wstring httpHandler::NextRandomText() {
  // 24 random bits make every float in [0, 1) a multiple of 2^-24, never 1.
  float value = static_cast<float>(random_() >> 8) * (1.0f / 16777216.0f);
  return RandomFieldText(value);
}

void httpHandler::ReadyStateChange() {
  Hub::ErrorTrap trap(L"httpHandler.ReadyStateChange", Hub::ErrorTrap::kReportAndLeave);  // step 4604
  trap.Run([&] {
    if (!trap.Test(4606, [&] { return request_->ReadyState() == 4; })) return;
    trap.Step(4608, [&] {
      if (NoResponseTimer->Running()) NoResponseTimer->Stop();
      // The handlers get a string of their own, which they may change.
      std::wstring reply = request_->ResponseText().Wide();
      FailMessage.Raise(reply);
    });
    int32_t status = 0;
    trap.Step(4610, [&] {
      status = request_->Status();
      std::wstring line = L"Status " + std::to_wstring(status);
      FailMessage.Raise(line);
    });

    if (status == 200) {
      platform::Ref<platform::XmlDocument> document;
      bool parsed = false;
      trap.Step(4612, [&] {
        document = platform::Env::Current()->CreateXmlDocument();
        // The request object's own text, without a copy.
        parsed = document->LoadXml(request_->ResponseText());
      });
      if (parsed) {
        trap.Step(4614, [&] { serverMessage.Raise(document); });
      } else {
        trap.Step(4658, [&] {
          std::wstring reply = request_->ResponseText().Wide();
          size_t at = FindErrorMark(reply);
          if (at == std::wstring::npos) {
            platform::Raise(platform::kErrInvalidArgument,
                            L"The reply is not a document and holds no \"Error:\"");
          }
          std::wstring line = L"[Server Response] " + reply.substr(at);
          FailMessage.Raise(line);
        });
      }
      trap.Step(4668, [&] { document.reset(); });
      return;
    }

    if (trap.Test(4670, [&] { return request_->Status() == platform::kStatusNameNotResolved; })) {
      trap.Step(4670, [&] {
        std::wstring line = L"Error: The server name could not be resolved";
        FailMessage.Raise(line);
      });
    } else if (trap.Test(4674, [&] { return request_->Status() == platform::kStatusCannotConnect; })) {
      trap.Step(4676, [&] {
        std::wstring line = L"Error: The attempt to connect to the server failed";
        FailMessage.Raise(line);
      });
    } else if (trap.Test(4678, [&] { return request_->Status() == 404; })) {
      trap.Step(4680, [&] {
        std::wstring line = L"Error: URL Not Found";
        FailMessage.Raise(line);
      });
    } else {
      trap.Step(4684, [&] {
        int32_t code = request_->Status();
        std::wstring line = L"Error: HTTP code " + std::to_wstring(code) + L": " + request_->StatusText();
        FailMessage.Raise(line);
      });
    }
  });
}

void httpHandler::NoResponseTimer_Timeout(platform::Timer& /*Source*/) {
  Hub::ErrorTrap trap(L"httpHandler.NoResponseTimer_Timeout",
                      Hub::ErrorTrap::kReportAndLeave);  // step 4694
  trap.Run([&] {
    trap.Step(4696, [&] {
      std::wstring line = L"Timeout -- Current ready state: " + std::to_wstring(request_->ReadyState());
      FailMessage.Raise(line);
    });
    trap.Step(4698, [&] { request_->Abort(); });
    trap.Step(4700, [&] { NoResponseTimer->Stop(); });
    trap.Step(4702, [&] {
      std::wstring line = L"Error: The server did not respond";
      FailMessage.Raise(line);
    });
  });
}
