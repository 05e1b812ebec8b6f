// The one application object, built before the entry routine runs.
#include "app/rotator_app.h"

namespace app {

CRotatorApp theApp;

}  // namespace app
