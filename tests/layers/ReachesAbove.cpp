// Read by the layer check as a file of survey/, never compiled: views/
// stands above survey and may not be reached from it.
#include "views/SurveyText.h"
