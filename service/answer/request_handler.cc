#include "service/answer/request_handler.h"

#include <exception>

#include "service/http/form_decoder.h"
#include "service/answer/reply_writer.h"
#include "service/search/search_query.h"
#include "service/text/unicode_nfc.h"
#include "service/text/utf8_text.h"

namespace service {

namespace {

constexpr std::size_t kEchoLength = 80;

void Fail(HandledRequest& handled, std::string_view reason) {
  handled.cacheable = false;
  handled.kind = "error";
  handled.reply = ReplyWriter("error").Attribute("reason", reason).Finish();
}

std::string Quoted(std::string_view text) { return "\"" + Shorten(text, kEchoLength) + "\""; }

}  // namespace

RequestHandler::RequestHandler(StorePool& stores, std::size_t result_limit)
    : stores_(stores), result_limit_(result_limit) {}

HandledRequest RequestHandler::Handle(std::string_view body) const noexcept {
  HandledRequest handled;
  try {
    const DecodedForm form = DecodeForm(body);
    if (!form.error.empty()) {
      Fail(handled, "The request could not be read: " + form.error + ". Update the plug-in.");
      return handled;
    }
    const std::string* action = form.Find("travel_action");
    const std::string* value = form.Find("Value");
    if (action != nullptr) handled.action = *action;
    if (value != nullptr) handled.value = *value;
    for (const std::string_view field : {"travel_action", "Value"}) {
      if (form.Count(field) > 1) {
        Fail(handled, "The request could not be read: the field " + std::string(field) +
                          " appears more than once. Update the plug-in.");
        return handled;
      }
    }
    if (action == nullptr) {
      Fail(handled, "The request names no action (travel_action). Update the plug-in.");
      return handled;
    }
    if (value == nullptr) {
      Fail(handled, "The request has no Value field. Update the plug-in.");
      return handled;
    }
    Answer(*action, *value, handled);
  } catch (const std::exception&) {
    handled.status = 500;
    Fail(handled, "The travel service cannot read its data just now; try again later.");
  } catch (...) {
    handled.status = 500;
    Fail(handled, "The travel service failed; try again later.");
  }
  return handled;
}

std::optional<std::string> RequestHandler::CacheKey(std::string_view action,
                                                    std::string_view value) {
  const std::string normal = ToNfc(TrimBlanks(value));
  if (action == "search") return "search\n" + NormalizeSearchText(normal);
  if (action == "get" || action == "more") return std::string(action) + "\n" + FoldCase(normal);
  return std::nullopt;
}

void RequestHandler::Answer(std::string_view action, std::string_view value,
                            HandledRequest& handled) const {
  const bool search = action == "search";
  if (!search && action != "get" && action != "more") {
    Fail(handled, "Unknown action " + Quoted(action) +
                      "; the service answers search, get and more. Update the plug-in.");
    return;
  }
  // Names were imported in NFC; what is typed is read the same way.
  const std::string normal = ToNfc(TrimBlanks(value));
  const std::string_view text = normal;
  if (text.empty()) {
    Fail(handled, search ? "Type part of a place name to search for."
                         : "Choose a destination from the search results first.");
    return;
  }

  StorePool::Lease store = stores_.Acquire();
  if (search) {
    // Counted as the search splits them: after case folding, which may turn
    // a letter the name index reads as part of a word into one it does not.
    if (store->SearchWords(NormalizeSearchText(text)).size() > kMaxSearchWords) {
      Fail(handled, "Use at most " + std::to_string(kMaxSearchWords) + " search words.");
      return;
    }
    const std::vector<std::string> names = store->Search(text, result_limit_);
    handled.kind = "search";
    handled.reply = ReplyWriter("search").Attribute("results", JoinTerminated(names)).Finish();
    handled.cacheable = true;
    return;
  }

  std::optional<PlaceDetails> place = store->FindPlace(text);
  // Found as CacheKey reads the name; not so by the fallback below.
  handled.cacheable = place.has_value();
  // A world imported before names were normalised may hold a name in another
  // form; the name exactly as the plug-in sent it still finds it there.
  if (!place && TrimBlanks(value) != text) place = store->FindPlace(TrimBlanks(value));
  if (!place) {
    Fail(handled, "There is no destination named " + Quoted(text) +
                      "; search for it and choose it from the results.");
    return;
  }
  handled.kind = std::string(action);
  if (action == "get") {
    handled.reply = ReplyWriter("get")
                        .Attribute("name", place->name)
                        .Attribute("coords", place->coords)
                        .Attribute("route", JoinSeparated(store->Route(place->id)))
                        .Finish();
  } else {
    handled.reply = ReplyWriter("more")
                        .Attribute("lvls", place->levels)
                        .Attribute("notes", JoinSeparated(store->Notes(place->id)))
                        .Finish();
  }
}

}  // namespace service
