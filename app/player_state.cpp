#include "app/player_state.h"

namespace lunadio {

PlayerState& playerState() {
  static PlayerState state;
  return state;
}

}  // namespace lunadio
