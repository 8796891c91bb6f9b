#include "cgi/form_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/cgi_runner.h"

using std::string_literals::operator""s;

TEST(FormDecoderTest, DecodesValuesUntilTheFirstEndMark) {
  using Values = std::vector<std::string>;
  const struct {
    std::string body;
    Values expected;
  } cases[] = {
      {"tolvane3=%2Fsrv%2Ftn3%2F&kavrelv2=%2Fsrv%2Fkv+2%2F&submit=submit",
       {"/srv/tn3/", "/srv/kv 2/", "submit"}},
      {"a=plain&b=a+b&c=%41&d=%3D%26", {"plain", "a b", "A", "=&"}},
      // Escapes are not tested for hex digits: "%zz" is the formula's byte.
      {"a=%2f%2F&b=x%00y&c=%zz&d=%%41", {"//", "x\0y"s, "S", "T1"}},
      // Too short an escape is kept as it stands ("%+" is not "% ").
      {"a=ab%&b=ab%4&c=%&d=%+", {"ab%", "ab%4", "%", "%+"}},
      {"", {}},
      {"no equals sign", {}},
      {"a=1&b=2&", {"1", "2"}},
      {"a=&b=&c=", {"", "", ""}},
      {"=x&b=2", {}},
      {"a=1&=x&c=3", {"1"}},
      {"a=1&junk&b=2", {"1", "2"}},  // "junk&b" is the second name
      {"a=x=y&b=2=", {"x=y", "2="}},
      {"a=%26&b=%3D", {"&", "="}},
      {"a=1&b", {"1"}},
      {"a=%4", {"%4"}},
      {"a=%4&b=%", {"%4", "%"}},
      {"a=%+1&b=c", {"\xB1", "c"}},
      // Four values tell a wrong count: the rest is never kept.
      {"a=1&b=2&c=3&d=4&e=5&f=6", {"1", "2", "3", "4"}},
      // A value longer than two pieces keeps every byte across them.
      {"a=" + std::string(2 * FormValue::kPieceSize, 'x') + "%41&b=c",
       {std::string(2 * FormValue::kPieceSize, 'x') + "A", "c"}},
  };
  for (const auto& c : cases) {
    // Whole, and a byte at a time: cut anywhere, a body decodes alike.
    for (const std::size_t piece : {c.body.size() + 1, std::size_t{1}}) {
      FormDecoder decoder;
      for (std::size_t i = 0; i < c.body.size(); i += piece)
        decoder.feed(std::string_view(c.body).substr(i, piece));
      decoder.finish();
      EXPECT_EQ(c.expected, valueTexts(decoder.values()))
          << "pieces of " << piece << ": " << c.body.substr(0, 80);
    }
  }
}
