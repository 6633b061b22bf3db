// The built program's answers to command lines that never reach the sound
// device: usage text, load failures, exit statuses, byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

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

}  // namespace
}  // namespace zv::test
