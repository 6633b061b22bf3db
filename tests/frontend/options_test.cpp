#include "frontend/options.h"
#include "support/test_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zv {
namespace {

using test::song;
// parseOptions over a command line given without the program name.
struct Parsed {
  ParseResult result;
  Options options;
  std::vector<std::string> storage;
};

Parsed parse(std::vector<std::string> args) {
  Parsed p;
  p.storage = std::move(args);
  p.storage.insert(p.storage.begin(), "zelvix");
  std::vector<char*> argv;
  for (std::string& s : p.storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  p.result = parseOptions(static_cast<int>(p.storage.size()), argv.data(), p.options);
  return p;
}

TEST(ParseOptions, DefaultsWithOnlyAModule) {
  Parsed p = parse({"song.xm"});
  ASSERT_EQ(p.result, ParseResult::run);
  EXPECT_STREQ(p.options.modulePath, "song.xm");
  EXPECT_EQ(p.options.mixingFrequency, 44100);
  EXPECT_EQ(p.options.bufferSize, 1024);
  EXPECT_EQ(p.options.amp, 10);
  EXPECT_EQ(p.options.masterVolume, 256);
  EXPECT_FALSE(p.options.noInterpolation);
  EXPECT_FALSE(p.options.noVolumeRamping);
  EXPECT_FALSE(p.options.renderToWav);
}

TEST(ParseOptions, ModulePathIsTheArgumentItself) {
  Parsed p = parse({"tune.mod", "-f", "22050"});
  EXPECT_EQ(p.options.modulePath, p.storage[1].c_str());
}

TEST(ParseOptions, HelpOnlyAsTheSoleExactArgument) {
  EXPECT_EQ(parse({}).result, ParseResult::usage);
  EXPECT_EQ(parse({"-h"}).result, ParseResult::usage);
  EXPECT_EQ(parse({"/?"}).result, ParseResult::usage);
  for (const char* notHelp : {"-H", "--help", "-help", "/??", "-h "}) {
    Parsed p = parse({notHelp});
    EXPECT_EQ(p.result, ParseResult::run) << notHelp;
    EXPECT_STREQ(p.options.modulePath, notHelp);
  }
  Parsed withMore = parse({"-h", "x"});
  EXPECT_EQ(withMore.result, ParseResult::run);
  EXPECT_STREQ(withMore.options.modulePath, "-h");
}

TEST(ParseOptions, SoleArgumentIsNeverAnOption) {
  Parsed p = parse({"--no-intrp"});
  EXPECT_STREQ(p.options.modulePath, "--no-intrp");
  EXPECT_FALSE(p.options.noInterpolation);
}

TEST(ParseOptions, FirstArgumentIsAlsoExaminedAsAnOption) {
  Parsed p = parse({"--no-intrp", "x"});
  EXPECT_STREQ(p.options.modulePath, "--no-intrp");
  EXPECT_TRUE(p.options.noInterpolation);

  Parsed f = parse({"-f", "22050"});
  EXPECT_STREQ(f.options.modulePath, "-f");
  EXPECT_EQ(f.options.mixingFrequency, 22050);
}

TEST(ParseOptions, NamesMatchInAnyCase) {
  Parsed p = parse({"s.xm", "-F", "22050", "-B", "2048", "-A", "7", "-M", "100", "--NO-INTRP",
                    "--No-VRamp", "--RENDER-to-WAV"});
  EXPECT_EQ(p.options.mixingFrequency, 22050);
  EXPECT_EQ(p.options.bufferSize, 2048);
  EXPECT_EQ(p.options.amp, 7);
  EXPECT_EQ(p.options.masterVolume, 100);
  EXPECT_TRUE(p.options.noInterpolation);
  EXPECT_TRUE(p.options.noVolumeRamping);
  EXPECT_TRUE(p.options.renderToWav);
}

TEST(ParseOptions, ClampsAtTheTabledBounds) {
  struct Case {
    const char* option;
    const char* value;
    int32_t expected;
  };
  const Case cases[] = {
      {"-f", "7999", 8000},   {"-f", "8000", 8000},   {"-f", "8001", 8001},  {"-f", "95999", 95999},
      {"-f", "96000", 96000}, {"-f", "200000", 96000}, {"-f", "abc", 8000},  {"-f", "-1", 8000},
      {"-b", "100", 256},     {"-b", "256", 256},     {"-b", "257", 257},    {"-b", "8191", 8191},
      {"-b", "8192", 8192},   {"-b", "9000", 8192},   {"-a", "0", 1},        {"-a", "1", 1},
      {"-a", "2", 2},         {"-a", "31", 31},       {"-a", "32", 32},      {"-a", "99", 32},
      {"-m", "-5", 0},        {"-m", "0", 0},         {"-m", "1", 1},        {"-m", "255", 255},
      {"-m", "256", 256},     {"-m", "300", 256},     {"-f", "22050hz", 22050},
      // Read as atoi reads (spaces, a sign, digits up to the first other
      // byte), saturating at the int range instead of wrapping.
      {"-m", " \t+77x", 77},  {"-m", "\n-5", 0},       {"-f", "+", 8000},
      {"-f", "2147483647", 96000},  {"-f", "2147483648", 96000},  {"-f", "99999999999", 96000},
      {"-f", "-2147483648", 8000},  {"-f", "-2147483649", 8000},  {"-f", "-99999999999", 8000},
      {"-f", "123456789012345678901234567890", 96000},
      {"-f", "-123456789012345678901234567890", 8000},
      {"-m", "4294967296", 256},    {"-a", "4294967300", 32},     {"-b", "-4294967040", 256},
  };
  for (const Case& c : cases) {
    Parsed p = parse({"s.xm", c.option, c.value});
    const Options& o = p.options;
    int32_t got = c.option[1] == 'f' ? o.mixingFrequency
                  : c.option[1] == 'b' ? o.bufferSize
                  : c.option[1] == 'a' ? o.amp
                                       : o.masterVolume;
    EXPECT_EQ(got, c.expected) << c.option << " " << c.value;
  }
}

TEST(ParseOptions, NumericOptionAsLastArgumentIsIgnored) {
  for (const char* option : {"-f", "-b", "-a", "-m"}) {
    Parsed p = parse({"s.xm", option});
    EXPECT_EQ(p.options.mixingFrequency, 44100) << option;
    EXPECT_EQ(p.options.bufferSize, 1024) << option;
    EXPECT_EQ(p.options.amp, 10) << option;
    EXPECT_EQ(p.options.masterVolume, 256) << option;
  }
}

TEST(ParseOptions, ValueIsExaminedAgainAsAnOption) {
  // "-f" takes atoi("-b") = 0, then "-b" takes 512 on its own turn.
  Parsed p = parse({"s.xm", "-f", "-b", "512"});
  EXPECT_EQ(p.options.mixingFrequency, 8000);
  EXPECT_EQ(p.options.bufferSize, 512);
  // A flag used as a value still sets its flag.
  Parsed q = parse({"s.xm", "-a", "--no-vramp"});
  EXPECT_EQ(q.options.amp, 1);
  EXPECT_TRUE(q.options.noVolumeRamping);
}

TEST(ParseOptions, LastValueWinsAndUnknownArgumentsAreIgnored) {
  Parsed p = parse({"s.xm", "-a", "5", "bogus", "-x", "--no-intrpx", "-a", "12"});
  EXPECT_EQ(p.options.amp, 12);
  EXPECT_FALSE(p.options.noInterpolation);
  EXPECT_EQ(p.options.mixingFrequency, 44100);
}

}  // namespace
}  // namespace zv
