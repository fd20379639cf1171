// Read by the layer check as a file of survey/, never compiled: tool/
// is below survey, but Messages.h is not among its public headers.
#include "tool/Messages.h"
