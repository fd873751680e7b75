// A replaceable global operator new for fault tests: every form of new and
// delete in a program that links failing_new.cpp goes through malloc and
// free here, counted, and new can be told to fail the Nth allocation from
// now by throwing std::bad_alloc (null for the nothrow forms).
//
//   failNthNew(1);            // the next new fails
//   ... code under test ...
//   failNthNew(0);            // disarmed
//
// Only for test programs of their own: linking it changes new for the whole
// program.
#pragma once

#include <cstdint>

namespace granulix::testing {

// Arms the switch (1: the next new); 0 disarms. It fires once.
void failNthNew(uint64_t n);
// Whether the armed switch is still waiting (the code made fewer than n news).
bool newFaultPending();
// Blocks obtained from new and not yet deleted.
int64_t liveNewBlocks();

}  // namespace granulix::testing
