#include "cgi/form_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using std::string_literals::operator""s;

TEST(DecodeFormTextTest, DecodesPlusAndEscapesAndKeepsShortEscapes) {
  const struct {
    std::string raw;
    std::string expected;
  } cases[] = {
      {"plain", "plain"}, {"a+b", "a b"},   {"%41", "A"},   {"%2f%2F", "//"},
      {"x%00y", "x\0y"s}, {"%3D%26", "=&"}, {"ab%", "ab%"}, {"ab%4", "ab%4"},
      {"%", "%"},         {"%+", "%+"},  // kept unchanged, not turned into "% "
      {"%zz", "S"},  // not tested for hex digits: the formula's byte
      {"%%41", "T1"},     {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, decodeFormText(c.raw)) << c.raw;
}

TEST(DecodeFormValuesTest, CollectsValuesUntilTheFirstEndMark) {
  using Values = std::vector<std::string>;
  const struct {
    std::string body;
    Values expected;
  } cases[] = {
      {"tolvane3=%2Fsrv%2Ftn3%2F&kavrelv2=%2Fsrv%2Fkv+2%2F&submit=submit",
       {"/srv/tn3/", "/srv/kv 2/", "submit"}},
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
    EXPECT_EQ(c.expected, decodeFormValues(c.body)) << c.body.substr(0, 80);
    // The body arrives in pieces: cut anywhere, it decodes alike.
    FormDecoder decoder;
    for (const char byte : c.body) decoder.feed(std::string_view(&byte, 1));
    decoder.finish();
    EXPECT_EQ(c.expected, valueTexts(decoder.values()))
        << "bytewise " << c.body.substr(0, 80);
  }
}
