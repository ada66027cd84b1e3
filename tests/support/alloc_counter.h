// Counts the allocations made through operator new in the test program.
#pragma once

namespace glimmerix::testing {
long AllocationCount();
}
