// The application includes the library through one header. Compiling it here,
// on its own, makes a header that cannot stand alone break the test build.
#include "ostrelcomm.h"
