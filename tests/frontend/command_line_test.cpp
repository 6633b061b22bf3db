// The built program's answers to command lines that never reach the sound
// device: usage text, load failures, exit statuses, byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "frontend/program_runner.h"
#include "support/module_writer.h"

namespace zv::test {
namespace {

const char kUsage[] =
    "Usage:\n"
    "  zelvix input_module [-f hz] [-b buffersize] [-a amp] [-m mastervol]\n"
    "  zelvix input_module [--no-intrp] [--no-vramp] [--render-to-wav]\n"
    "\n"
    "  Options:\n"
    "    input_module     Specifies the module file to load (.XM/.MOD/.ZV supported)\n"
    "    -f hz            Specifies the mixing frequency (8000..96000)\n"
    "    -b buffersize    Specifies the mixing buffer size (256..8192)\n"
    "    -a amp           Specifies the mixing amplitude (1..32)\n"
    "    -m mastervol     Specifies the mixing master volume (0..256). This setting\n"
    "                     is ignored when rendering to WAV (always set to 256).\n"
    "    --no-intrp       Disables linear interpolation\n"
    "    --no-vramp       Disables volume ramping\n"
    "    --render-to-wav  Renders song to WAV instead of playing it. The output\n"
    "                     filename will be the input filename with .WAV added to the\n"
    "                     end.\n"
    "\n"
    "Default settings:\n"
    "  - Mixing frequency:         44100\n"
    "  - Mixing buffer size:       1024\n"
    "  - Amp:                      10\n"
    "  - Master volume:            256\n"
    "  - Linear interpolation:     On\n"
    "  - Volume ramping:           On\n"
    "  - WAV render mode:          Off\n"
    "\n";

const char kLoadFailure[] = "Error: Couldn't load song!\n";

class CommandLine : public ::testing::Test {
 protected:
  Finished run(std::vector<std::string> args) {
    ProgramRun r;
    r.args = std::move(args);
    r.workingDirectory = dir.path();
    return runToEnd(r);
  }
  TemporaryDirectory dir;
};

TEST_F(CommandLine, UsageForNoArgumentAndTheTwoHelpForms) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"-h"}, std::vector<std::string>{"/?"}}) {
    Finished f = run(args);
    EXPECT_EQ(f.output, kUsage) << (args.empty() ? "(none)" : args[0]);
    EXPECT_EQ(f.status, 1);
  }
}

TEST_F(CommandLine, OtherHelpSpellingsAreFileNames) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-H"}, std::vector<std::string>{"--help"},
        std::vector<std::string>{"-h", "x"}, std::vector<std::string>{"/?", "-f", "8000"}}) {
    Finished f = run(args);
    EXPECT_EQ(f.output, kLoadFailure) << args[0];
    EXPECT_EQ(f.status, 1);
  }
}

TEST_F(CommandLine, UnloadableInputsFailTheLoad) {
  ASSERT_TRUE(writeFile(dir / "noise.xm", std::vector<uint8_t>(4000, 0x5A)));
  ASSERT_TRUE(writeFile(dir / "empty.xm", {}));
  std::filesystem::create_directory(dir / "folder.xm");
  // A FIFO that nobody writes to: opening it must not wait for a writer.
  ASSERT_EQ(mkfifo((dir / "fifo.xm").c_str(), 0600), 0);
  for (const char* name : {"missing.xm", "noise.xm", "empty.xm", "folder.xm", "fifo.xm"}) {
    Finished f = run({name, "--render-to-wav"});
    EXPECT_EQ(f.output, kLoadFailure) << name;
    EXPECT_EQ(f.status, 1) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / (std::string(name) + ".wav"))) << name;
  }
}

// One option as a text documents it: "-f hz", its range "8000..96000" and
// its default ("" where none is stated).
struct DocumentedOption {
  std::string synopsis, range, defaultValue;
  bool operator==(const DocumentedOption&) const = default;
};

std::ostream& operator<<(std::ostream& out, const DocumentedOption& o) {
  return out << "{" << o.synopsis << " | " << o.range << " | " << o.defaultValue << "}";
}

std::string firstMatch(const std::string& text, const char* pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "";
}

// The usage text's option lines ("    -f hz   Specifies ... (8000..96000)"),
// with the numeric defaults of "Default settings", which follow the numeric
// options in order.
std::vector<DocumentedOption> usageOptions(const std::string& usage) {
  std::vector<DocumentedOption> options;
  std::vector<std::string> numericDefaults;
  std::istringstream in(usage);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, std::regex(R"(    (-\S+(?: \S+)?)  +(.*))"))) {
      options.push_back({m[1], firstMatch(m[2], R"(\((\d+\.\.\d+)\))"), ""});
    } else if (std::regex_match(line, m, std::regex(R"(  - [^:]+: +(\d+))"))) {
      numericDefaults.push_back(m[1]);
    }
  }
  size_t next = 0;
  for (DocumentedOption& o : options) {
    if (!o.range.empty() && next < numericDefaults.size()) o.defaultValue = numericDefaults[next++];
  }
  return options;
}

// The manual page's OPTIONS section: each ".TP" tag line and the paragraph
// under it, with the roff escapes and macro names taken out.
std::vector<DocumentedOption> manualPageOptions(const std::string& page) {
  auto plain = [](std::string text) {
    text = std::regex_replace(text, std::regex(R"(^\.[A-Z]+ ?)"), "");
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    text = std::regex_replace(text, std::regex(R"(\\&|")"), "");
    return std::regex_replace(text, std::regex(" +"), " ");
  };
  std::vector<DocumentedOption> options;
  std::vector<std::string> paragraphs;
  std::istringstream in(page);
  bool inOptions = false, tagNext = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(".SH")) inOptions = line == ".SH OPTIONS";
    if (!inOptions || line.starts_with(".SH") || line.starts_with(".PP")) continue;
    if (line.starts_with(".TP")) {
      tagNext = true;
    } else if (tagNext) {
      options.push_back({plain(line), "", ""});
      paragraphs.emplace_back();
      tagNext = false;
    } else if (!options.empty()) {
      paragraphs.back() += plain(line) + " ";
    }
  }
  for (size_t i = 0; i < options.size(); ++i) {
    options[i].range = firstMatch(paragraphs[i], R"((\d+\.\.\d+))");
    options[i].defaultValue = firstMatch(paragraphs[i], R"(default (\d+))");
  }
  return options;
}

// zelvix.1 lists the options of the usage text, in its order, with the same
// ranges and defaults; its title carries the project's version.
TEST_F(CommandLine, ManualPageListsTheUsageTextsOptions) {
  std::ifstream file(ZELVIX_MANUAL_DIR "/zelvix.1");
  ASSERT_TRUE(file.good());
  std::stringstream page;
  page << file.rdbuf();
  std::vector<DocumentedOption> documented = manualPageOptions(page.str());
  std::vector<DocumentedOption> usage = usageOptions(run({"-h"}).output);
  EXPECT_EQ(usage.size(), 7u);
  EXPECT_EQ(documented, usage);
  EXPECT_NE(page.str().find("\"zelvix " ZELVIX_VERSION "\""), std::string::npos);
}

}  // namespace
}  // namespace zv::test
