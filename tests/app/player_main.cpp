// One process of player tests: the libraries started in their fixed order on the offscreen
// platform, every sound on a memory device, media players on a fake sink that keeps real time.
#include <gtest/gtest.h>

#include <QtGlobal>

#include <cstdlib>
#include <memory>

#include "app/library_lifecycles.h"
#include "audio/sound_device.h"
#include "core/lifecycle.h"
#include "tests/app/player_test_support.h"

namespace lunadio::testing {
namespace {
std::shared_ptr<soundout::MemoryOutput> output;
}
soundout::MemoryOutput& memoryOutput() { return *output; }
}  // namespace lunadio::testing

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("LUNADIO_MEDIA_SINK", "fakesink sync=true", 1);
  ::testing::InitGoogleTest(&argc, argv);
  // The offscreen platform has no window opacity and says so at every alpha step.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
    if (!message.contains("window opacity") && !message.contains("propagateSizeHints"))
      fprintf(stderr, "%s\n", qPrintable(message));
  });
  namespace soundout = lunadio::soundout;
  lunadio::testing::output = std::make_shared<soundout::MemoryOutput>();
  lunadio::setSoundServiceOpener([](std::unique_ptr<soundout::SoundDevice>& device) {
    return soundout::createSoundDevice(lunadio::testing::output, device);
  });
  lunadio::registerLibraryLifecycles();
  if (!lunadio::runStartSequence(lunadio::StartStage::Tray)) return 1;
  const int result = RUN_ALL_TESTS();
  lunadio::runEndSequence();
  return result;
}
