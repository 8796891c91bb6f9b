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
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, decodeFormValues(c.body)) << c.body;
}

TEST(FormDecoderTest, NameRunsAcrossAnAmpersandBeforeTheEqualsSign) {
  FormDecoder decoder("a=1&junk&b=2");
  EXPECT_EQ("a", decoder.nextPair().name);
  const FormPair second = decoder.nextPair();
  EXPECT_EQ("junk&b", second.name);
  EXPECT_EQ("2", second.value);
  EXPECT_EQ("", decoder.nextPair().name);
  EXPECT_EQ("", decoder.nextPair().name);  // the end mark comes back again
}
