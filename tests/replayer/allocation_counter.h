// Every operator new of the replayer test program is counted here.
#pragma once

namespace zv::test {

long allocationCount();

}  // namespace zv::test
