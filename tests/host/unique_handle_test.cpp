// The handle owner closes each handle exactly once, never its "no handle" value, and hands
// the handle on when moved or released.
#include "host/unique_handle.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace qmv {
namespace {

std::vector<int> closed;

struct Close {
  void operator()(int handle) const noexcept { closed.push_back(handle); }
};
struct None {
  int operator()() const noexcept { return -1; }
};
// A descriptor-like handle: 0 is a real handle, -1 is none.
using Handle = UniqueHandle<int, Close, None>;

TEST(UniqueHandle, ClosesEachHandleOnceAndNeverNone) {
  struct Row {
    const char* name;
    std::function<void()> steps;
    std::vector<int> closed;
  };
  const std::vector<Row> rows = {
      {"0 is a handle", [] { Handle h(0); }, {0}},
      {"none is never closed", [] { Handle h; }, {}},
      {"-1 given is none", [] { Handle h(-1); }, {}},
      {"reset closes the old one",
       [] {
         Handle h(3);
         h.reset(4);
       },
       {3, 4}},
      {"released is not closed",
       [] {
         Handle h(5);
         EXPECT_EQ(h.release(), 5);
         EXPECT_FALSE(h);
       },
       {}},
      {"moved is closed by the new owner only",
       [] {
         Handle a(6);
         Handle b(std::move(a));
         EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): the moved-from state is checked
         EXPECT_EQ(b.get(), 6);
       },
       {6}},
      {"move-assigned closes what it held",
       [] {
         Handle a(7);
         Handle b(8);
         b = std::move(a);
       },
       {8, 7}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    closed.clear();
    row.steps();
    EXPECT_EQ(closed, row.closed);
  }
}

}  // namespace
}  // namespace qmv
