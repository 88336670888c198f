// The text handling at the service's edges: the form body coming in, the
// reply document going out, letter case and the data files' CSV.

#include <gtest/gtest.h>

#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <cstdint>
#include <string>
#include <vector>

#include "service/world/csv.h"
#include "service/http/form_decoder.h"
#include "service/http/response_head.h"
#include "service/ops/request_log.h"
#include "service/answer/reply_writer.h"
#include "service/search/edit_distance.h"
#include "service/text/escaped_text.h"
#include "service/search/search_query.h"
#include "service/search/similar_words.h"
#include "service/text/unicode_nfc.h"
#include "service/text/utf8_text.h"
#include "tests/service/service_test_support.h"

namespace {

using service_test::ParseReply;

TEST(FormDecoderTest, DecodesThePlugInsBodies) {
  struct Case {
    std::string body;
    std::string action;
    std::string value;
  };
  const std::vector<Case> cases = {
      {"&travel_action=search&Value=holt&currentcharacter=Ann%20Lee&random= .7055475", "search",
       "holt"},
      // The plug-in's escapes, upper and lower case hex alike.
      {"&travel_action=get&Value=Hook%20%26%20Lantern%3d%3F%2B%25", "get", "Hook & Lantern=?+%"},
      {"&travel_action=get&Value=Harrow+Ford", "get", "Harrow Ford"},
      // UTF-8 travels raw; escaped UTF-8 bytes decode to the same text.
      {"&travel_action=get&Value=\xC3\x86rnholt", "get", "\xC3\x86rnholt"},
      {"&travel_action=get&Value=%C3%86rnholt", "get", "\xC3\x86rnholt"},
      {"travel_action=more&&Value=x&", "more", "x"},
      {"&travel_action=search&Value=", "search", ""},
  };
  for (const Case& c : cases) {
    const service::DecodedForm form = service::DecodeForm(c.body);
    ASSERT_EQ(form.error, "") << c.body;
    ASSERT_NE(form.Find("travel_action"), nullptr) << c.body;
    ASSERT_NE(form.Find("Value"), nullptr) << c.body;
    EXPECT_EQ(*form.Find("travel_action"), c.action) << c.body;
    EXPECT_EQ(*form.Find("Value"), c.value) << c.body;
  }
}

TEST(FormDecoderTest, RefusesBodiesThatCannotBeRead) {
  const std::vector<std::string> bodies = {
      "&travel_action=search&Value=100%",     // "%" at the end
      "&travel_action=search&Value=%4",       // one hex digit
      "&travel_action=search&Value=%zz",      // not hex
      "&travel_action=search&Value=Fish & Chips",  // a raw "&" splits the value
      "&travel_action=search&Value=%FF%FE",   // not UTF-8 once decoded
      "&travel_action=search&Value=\xC3",     // truncated UTF-8
  };
  for (const std::string& body : bodies) {
    const service::DecodedForm form = service::DecodeForm(body);
    EXPECT_NE(form.error, "") << body;
    EXPECT_TRUE(form.fields.empty()) << body;
  }
}

TEST(FormDecoderTest, FieldNamesAreExactAndCounted) {
  const service::DecodedForm form = service::DecodeForm("&value=a&Value=b&Value=c");
  ASSERT_NE(form.Find("Value"), nullptr);
  EXPECT_EQ(*form.Find("Value"), "b");
  EXPECT_EQ(form.Count("Value"), 2u);
  EXPECT_EQ(form.Find("VALUE"), nullptr);
}

// Whatever the text, a parser reads back exactly what was written, except
// for the characters XML cannot carry at all.
TEST(ReplyWriterTest, AttributeValuesSurviveAnXmlParser) {
  struct Case {
    std::string text;
    std::string read_back;
  };
  const std::vector<Case> cases = {
      {"Hook & Lantern", "Hook & Lantern"},
      {"<b>bold</b>", "<b>bold</b>"},
      {"say \"hi\" & 'bye'", "say \"hi\" & 'bye'"},
      {"&amp; is not an entity here", "&amp; is not an entity here"},
      {"tab\there\nline\r\nend", "tab\there\nline\r\nend"},
      {"\xC3\x86rnholt \xE2\x80\x94 \xF0\x9F\x97\xBA", "\xC3\x86rnholt \xE2\x80\x94 \xF0\x9F\x97\xBA"},
      {"A|B|", "A|B|"},
      {"del\x7F", "del\x7F"},
      {"c1\xC2\x85", "c1\xC2\x85"},
      // Not in XML 1.0 in any form: replaced, so the reply still parses.
      {std::string("nul\0bell\x07", 9), "nul\xEF\xBF\xBD" "bell\xEF\xBF\xBD"},
      {"bad\xFF", "bad\xEF\xBF\xBD"},
      {"\xEF\xBF\xBE", "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    const std::string xml =
        service::ReplyWriter("get").Attribute("name", c.text).Attribute("coords", "1N, 2E").Finish();
    const service_test::ParsedReply reply = ParseReply(xml);
    EXPECT_EQ(reply.tag, "get");
    EXPECT_EQ(reply.Attribute("name"), c.read_back) << xml;
    EXPECT_EQ(reply.Attribute("coords"), "1N, 2E");
  }
  EXPECT_EQ(service::EscapeAttribute("a&<>\"\t\n\r\x7F"),
            "a&amp;&lt;&gt;&quot;&#9;&#10;&#13;&#127;");
}

TEST(ReplyWriterTest, ListAttributesUseTheirSeparatorRules) {
  EXPECT_EQ(service::JoinTerminated({"Alpha", "Beta"}), "Alpha|Beta|");
  EXPECT_EQ(service::JoinTerminated({}), "");
  EXPECT_EQ(service::JoinSeparated({"North", "East"}), "North|East");
  EXPECT_EQ(service::JoinSeparated({"North"}), "North");
  EXPECT_EQ(service::JoinSeparated({}), "");
}

TEST(Utf8TextTest, FoldCaseComparesNamesInAnyLetterCase) {
  struct Case {
    std::string a;
    std::string b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"Harrow FORD", "harrow ford", true},
      {"\xC3\x86RNHOLT \xC3\x89MON", "\xC3\xA6rnholt \xC3\xA9mon", true},   // Æ É
      {"\xC5\x81\xC3\x93" "D\xC5\xB9", "\xC5\x82\xC3\xB3" "d\xC5\xBA", true},  // Łódź
      {"\xCE\xA3\xCE\x9F\xCE\xA6", "\xCF\x83\xCE\xBF\xCF\x86", true},       // Greek
      {"\xD0\x9C\xD0\x98\xD0\xA0", "\xD0\xBC\xD0\xB8\xD1\x80", true},       // Cyrillic
      {"\xE1\xBA\xA0n Hill", "\xE1\xBA\xA1n hill", true},                       // Ạn / ạn
      {"\xCE\x86\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82", "\xCE\xAC\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82", true},  // Άργος
      {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82", true},  // ΟΔΟΣ, final ς
      {"\xE1\xB2\x90\xE1\xB2\x91", "\xE1\x83\x90\xE1\x83\x91", true},     // Georgian
      {"Stra\xE1\xBA\x9E" "e", "stra\xC3\x9F" "e", true},                       // ẞ ß
      // Letters that only look alike stay apart.
      {"K\xC4\xB1rk", "Kirk", false},                                          // dotless ı
      {"\xC3\x86rnholt", "Aernholt", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(service::FoldCase(c.a) == service::FoldCase(c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(service::FoldCase(service::FoldCase(c.a)), service::FoldCase(c.a)) << c.a;
  }
  EXPECT_EQ(service::FoldCase("Harrow FORD"), "harrow ford");
  // Signs that are not letters, and bad bytes, stay as they are.
  EXPECT_EQ(service::FoldCase("\xC3\x97 & \xFF"), "\xC3\x97 & \xFF");
}

TEST(Utf8TextTest, ShortenCutsWholeCharacters) {
  EXPECT_EQ(service::Shorten("\xC3\x86\xC3\x86\xC3\x86", 2), "\xC3\x86\xC3\x86...");
  EXPECT_EQ(service::Shorten("abc", 3), "abc");
}

// What the service writes for people and scrapers: UTF-8, one line, and no
// byte that moves a terminal's cursor, in each of the three escapings.
TEST(EscapedTextTest, ControlsAndBadBytesAreEscapedEverywhere) {
  struct Case {
    std::string text;
    std::string line, quoted, label;
  };
  const std::vector<Case> cases = {
      {"Caf\xC3\xA9 \xE2\x80\x94 ok", "Caf\xC3\xA9 \xE2\x80\x94 ok", "Caf\xC3\xA9 \xE2\x80\x94 ok",
       "Caf\xC3\xA9 \xE2\x80\x94 ok"},
      {"a\"b\\c", "a\"b\\c", "a\\\"b\\\\c", "a\\\"b\\\\c"},
      {"\x1B[2Jclear", "\\x1B[2Jclear", "\\x1B[2Jclear", "\\\\x1B[2Jclear"},
      {"two\nlines\r", "two\\x0Alines\\x0D", "two\\x0Alines\\x0D", "two\\nlines\\\\x0D"},
      {"bad \xFF byte", "bad \\xFF byte", "bad \\xFF byte", "bad \\\\xFF byte"},
      {"C1 \xC2\x9B" "2J", "C1 \\xC2\\x9B2J", "C1 \\xC2\\x9B2J", "C1 \\\\xC2\\\\x9B2J"},
      {"cut \xE2\x80", "cut \\xE2\\x80", "cut \\xE2\\x80", "cut \\\\xE2\\\\x80"},
      {std::string("nul\0del\x7F", 8), "nul\\x00del\\x7F", "nul\\x00del\\x7F",
       "nul\\\\x00del\\\\x7F"},
      // A line separator and a tag letter.
      {"a\xE2\x80\xA8" "b\xF3\xA0\x81\x81", "a\\xE2\\x80\\xA8b\\xF3\\xA0\\x81\\x81",
       "a\\xE2\\x80\\xA8b\\xF3\\xA0\\x81\\x81",
       "a\\\\xE2\\\\x80\\\\xA8b\\\\xF3\\\\xA0\\\\x81\\\\x81"},
      // A right-to-left override and a zero-width space.
      {"abc\xE2\x80\xAE" "fed\xE2\x80\x8B", "abc\\xE2\\x80\\xAEfed\\xE2\\x80\\x8B",
       "abc\\xE2\\x80\\xAEfed\\xE2\\x80\\x8B",
       "abc\\\\xE2\\\\x80\\\\xAEfed\\\\xE2\\\\x80\\\\x8B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(service::Escaped(c.text, service::Escaping::kLine), c.line);
    EXPECT_EQ(service::Escaped(c.text, service::Escaping::kQuoted), c.quoted);
    EXPECT_EQ(service::QuotedField(c.text), "\"" + c.quoted + "\"");
    EXPECT_EQ(service::Escaped(c.text, service::Escaping::kPrometheusLabel), c.label);
    for (const std::string& out : {c.line, c.quoted, c.label}) {
      EXPECT_TRUE(service::IsValidUtf8(out)) << out;
      EXPECT_FALSE(service::HasControl(out)) << out;
    }
  }
}

TEST(ResponseHeadTest, IsWhatBeastsSerializerWrites) {
  namespace http = boost::beast::http;
  const struct {
    unsigned version;
    http::status status;
    bool keep_alive;
    bool head;  // HEAD: the length of the body, no body
  } rows[] = {
      {11, http::status::ok, true, false},        {11, http::status::ok, false, false},
      {10, http::status::ok, true, false},        {10, http::status::ok, false, false},
      {11, http::status::ok, true, true},         {11, http::status::not_found, false, false},
      {11, http::status::payload_too_large, false, false},
      {11, http::status::service_unavailable, true, false},
  };
  for (const auto& row : rows) {
    http::response<http::string_body> response;
    response.version(row.version);
    response.result(row.status);
    response.set(http::field::content_type, "text/xml; charset=utf-8");
    response.body() = "<search found=\"0\"/>";
    response.keep_alive(row.keep_alive);
    response.prepare_payload();
    if (row.head) response.body().clear();
    std::ostringstream serialized;
    serialized << response;
    std::string written;
    service::AppendResponseHead(written, response.base());
    EXPECT_EQ(written + response.body(), serialized.str())
        << row.version << " " << static_cast<unsigned>(row.status);
  }
}

TEST(RequestLogTest, TimeAndDurationFieldsAreWhatPrintfWrote) {
  using std::chrono::milliseconds;
  using std::chrono::system_clock;
  const struct {
    long long millis_since_1970;
    const char* time;
  } times[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951782399999, "2000-02-28T23:59:59.999Z"},
      {951868800007, "2000-03-01T00:00:00.007Z"},  // after a leap day
      {1714558502117, "2024-05-01T10:15:02.117Z"},
      {4102444799050, "2099-12-31T23:59:59.050Z"},
  };
  for (const auto& row : times) {
    std::string line = "x";
    service::AppendLogTime(line, system_clock::time_point(milliseconds(row.millis_since_1970)));
    EXPECT_EQ(line, std::string("x") + row.time);
  }
  // The duration as "%.3fms" wrote it, ties and long ones included.
  // (62 500 and 187 500 ns are exact binary ties: 0.0625 and 0.1875 ms.)
  for (const long long nanos : {0LL, 1LL, 499LL, 500LL, 1500LL, 62'500LL, 187'500LL, 182'000LL,
                                999'999LL, 1'000'499LL, 1'234'567'891LL, 86'400'000'000'000LL}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.3fms",
                  std::chrono::duration<double, std::milli>(std::chrono::nanoseconds(nanos)).count());
    std::string line;
    service::AppendMilliseconds(line, std::chrono::nanoseconds(nanos));
    EXPECT_EQ(line, expected) << nanos << " ns";
  }
}

TEST(UnicodeNfcTest, ComposedAndDecomposedSpellingsMeet) {
  struct Case {
    std::string text, nfc;
  };
  const std::vector<Case> cases = {
      {"Cafe\xCC\x81", "Caf\xC3\xA9"},                  // e + combining acute
      {"Caf\xC3\xA9", "Caf\xC3\xA9"},                   // already composed
      {"A\xCC\x8A" "ngstr\xC3\xB6m", "\xC3\x85ngstr\xC3\xB6m"},  // A + ring
      {"\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", "\xED\x95\x9C"},    // Hangul jamo
      {"plain", "plain"},
      {"bad \xFF", "bad \xFF"},                         // not UTF-8: as it is
  };
  for (const Case& c : cases) EXPECT_EQ(service::ToNfc(c.text), c.nfc) << c.text;
}

TEST(SearchQueryTest, WordsBecomeQuotedPrefixTerms) {
  EXPECT_EQ(service::NormalizeSearchText("  Harrow \t  FORD "), "harrow ford");
  // The quote is doubled: nothing the player types is FTS5 syntax.
  EXPECT_EQ(service::BuildMatchExpression({"harrow", "fo\"rd"}), "\"harrow\"* AND \"fo\"\"rd\"*");
}

// The index finds exactly the words a comparison with every word finds.
TEST(SimilarWordsTest, FindsWhatComparingEveryWordFinds) {
  const std::vector<std::string> alphabet = {"a", "b", "e", "r", "\xC3\xA6"};
  std::vector<std::string> words;
  std::uint32_t seed = 7;
  const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int i = 0; i < 3000; ++i) {
    std::string word;
    for (std::size_t n = 2 + next() % 9; n > 0; --n) word += alphabet[next() % alphabet.size()];
    words.push_back(word);
  }
  const service::SimilarWords similar(words);
  const auto code_points = [](const std::string& text) {
    std::u32string out;
    for (std::size_t pos = 0; pos < text.size();) out += service::NextCodePoint(text, pos);
    return out;
  };
  std::vector<std::u32string> distinct;
  for (const std::string& word : words) distinct.push_back(code_points(word));
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  EXPECT_EQ(similar.WordCount(), distinct.size());
  for (int i = 0; i < 300; ++i) {
    const std::string searched = words[next() % words.size()] + (i % 3 == 0 ? "b" : "");
    const std::u32string target = code_points(searched);
    const int allowed = service::SimilarWords::AllowedEdits(target.size());
    std::size_t expected = 0;
    for (const std::u32string& word : distinct) {
      expected += service::EditDistance(target, word, allowed) <= allowed ? 1 : 0;
    }
    const std::vector<service::SimilarWords::Match> near = similar.Near(searched);
    EXPECT_EQ(near.size(), allowed == 0 ? 0 : expected) << searched;
    for (std::size_t m = 1; m < near.size(); ++m) {
      EXPECT_LE(near[m - 1].edits, near[m].edits) << searched;
    }
  }
  struct Case {
    std::string a, b;
    int distance;
  };
  for (const Case& c : std::vector<Case>{{"sunken", "suknen", 1},
                                          {"eastmere", "eastmre", 1},
                                          {"ab", "ba", 1},
                                          {"abc", "ca", 3},
                                          {"eastmeer", "estmer", 2},
                                          {"\xC3\xA6rn", "arn", 1},
                                          {"", "abc", 3}}) {
    EXPECT_EQ(service::EditDistance(code_points(c.a), code_points(c.b), 5), c.distance)
        << c.a << " " << c.b;
    EXPECT_EQ(service::EditDistance(code_points(c.a), code_points(c.b), c.distance - 1),
              c.distance)
        << "past the limit: limit + 1";
  }
}

TEST(CsvReaderTest, ReadsQuotedFieldsAndCountsLines) {
  service::CsvReader reader(
      "\xEF\xBB\xBFname,note\r\n\r\n\"Hook, Inn\",\"say \"\"hi\"\"\"\n"
      "\"two\nlines\",x\nlast,");
  std::vector<std::string> fields;
  ASSERT_TRUE(reader.Next(fields));
  EXPECT_EQ(fields, (std::vector<std::string>{"name", "note"}));
  ASSERT_TRUE(reader.Next(fields));
  EXPECT_EQ(reader.Line(), 3u);
  EXPECT_EQ(fields, (std::vector<std::string>{"Hook, Inn", "say \"hi\""}));
  ASSERT_TRUE(reader.Next(fields));
  EXPECT_EQ(fields, (std::vector<std::string>{"two\nlines", "x"}));
  ASSERT_TRUE(reader.Next(fields));
  EXPECT_EQ(reader.Line(), 6u);
  EXPECT_EQ(fields, (std::vector<std::string>{"last", ""}));
  EXPECT_FALSE(reader.Next(fields));

  for (const char* bad : {"\"open", "\"a\"b,c"}) {
    service::CsvReader broken(bad);
    EXPECT_THROW(broken.Next(fields), service::CsvReader::Error) << bad;
  }
  EXPECT_EQ(service::CsvField("The \"Weeping\" Stone, east"),
            "\"The \"\"Weeping\"\" Stone, east\"");
  EXPECT_EQ(service::CsvField("plain"), "plain");
}

}  // namespace
