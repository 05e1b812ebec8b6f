// The one application object, built before the entry routine runs.
#include "app/rotator_app.h"

CRotatorApp theApp;
