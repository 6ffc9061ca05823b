// FluidSynth is loaded when a sound is made, never by a conversion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/fluidsynth_api.h"
#include "test_util.h"

namespace vlm {
namespace {

bool mapped(const std::string& library) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(library) != std::string::npos) return true;
  return false;
}

TEST(FluidSynthApi, ConversionLeavesTheLibraryUnloadedAndASoundLoadsIt) {
  test::ScratchDir dir;
  const std::string out = dir.file("out.mid");
  const std::string vlmconv = test::vlmconvProgram();
  // The command line converts without mapping the synthesizer (the loader lists every library
  // it maps).
  const std::string loaderLog = dir.file("loader.txt");
  ASSERT_EQ(std::system(("LD_DEBUG=libs " + vlmconv +
                         " convert " VLM_SOURCE_DIR "/examples/demo.mid --to 2 -o " + out +
                         " >/dev/null 2>" + loaderLog)
                            .c_str()),
            0);
  const std::vector<uint8_t> log = test::readBytes(loaderLog);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(std::string(log.begin(), log.end()).find("libfluidsynth"), std::string::npos);
#ifdef VLM_HAVE_FLUIDSYNTH
  EXPECT_FALSE(mapped("libfluidsynth"));
  std::string error;
  ASSERT_TRUE(fluidLoaded(&error)) << error;
  EXPECT_TRUE(mapped("libfluidsynth"));
  fluid_settings_t* settings = new_fluid_settings();
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(fluid_settings_setint(settings, "synth.cpu-cores", 2), FLUID_OK);
  delete_fluid_settings(settings);
#endif
}

}  // namespace
}  // namespace vlm
