// Pattern files whose names differ only in letter case: separate files where the file system
// keeps them apart (Linux), listed in one fixed order.
#include <gtest/gtest.h>

#include "presets/presets.h"
#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

TEST(PatternFileList, NamesDifferingOnlyInCaseAreOrderedByTheirBytes) {
  testing::TempFolder folder;
  for (const char* name : {"b.patt", "a.patt", "B.PATT", "A.PATT", "a.Patt"}) folder.Put(name, "");
  EXPECT_EQ(ListPatternFiles(folder.path()),
            (std::vector<std::string>{"A.PATT", "a.Patt", "a.patt", "B.PATT", "b.patt"}));
}

}  // namespace
}  // namespace glimmerix
