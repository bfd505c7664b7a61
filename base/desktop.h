// Who can see the desktop Corvane runs on.
#pragma once

namespace base {

// A window station that is not interactive (a service's, a deployment
// job's), or session 0 from Vista on, which holds services only: a question
// there would wait for ever. When Windows cannot say, it is asked.
bool NobodyCanSeeTheDesktop();

}  // namespace base
