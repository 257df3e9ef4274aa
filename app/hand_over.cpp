#include "app/hand_over.h"

#include "core/instance_guard.h"
#include "desktop/instance_channel.h"
#include "storage/program_parameters.h"

namespace lunadio {
namespace {

constexpr int kHandOverMs = 100;

}  // namespace

void handOverToRunningInstance(int argc, char** argv) {
  setProgramArguments(argc, argv);
  InstanceRequest request;
  if (countProgramParameters() == 1) {
    request = {InstanceRequestKind::OpenTrack, nextProgramParameter()};
    if (request.path.empty()) return;
  }
  forwardToRunningInstance(currentProgramName(), request, kHandOverMs);
}

}  // namespace lunadio
