// Fills the Clover entries of the window job table (revision check, local repository list) and
// the start-up steps that scan the repository and check the revision.
#pragma once

namespace fw {

// Call once at start-up, before StartUp (it sets start-up hooks).
void WireCloverJobs();

}  // namespace fw
