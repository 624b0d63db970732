#include "platform/windows/com_object.hpp"

namespace qmv::windows {

ServerCounts& serverCounts() {
  static ServerCounts counts;
  return counts;
}

}  // namespace qmv::windows
