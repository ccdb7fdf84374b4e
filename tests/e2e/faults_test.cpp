// Faults of the server and of the installation, each ending with a clear
// message and no file lost.
#include "e2etest.h"
#include "qtprinters.h"
#include "testsandbox.h"

using namespace E2E;

namespace {

} // namespace
