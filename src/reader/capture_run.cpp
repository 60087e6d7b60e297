#include "reader/capture_run.h"

namespace dhcpident {

capture_run the_run;

}  // namespace dhcpident
