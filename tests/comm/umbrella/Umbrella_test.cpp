// The application includes the library through one header: it must compile on
// its own, with every header it pulls in.
#include "ostrelcomm.h"

#include <gtest/gtest.h>

TEST(Umbrella, CompilesAlone) { SUCCEED(); }
