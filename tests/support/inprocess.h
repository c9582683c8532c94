// For the tests that call the process layer and the jobs inside the test program itself, with
// the test double as their child.
#pragma once
#include <string>

#include "e2e.h"
#include "front/settings.h"

// The E2E folders, with the double's control folder named in this program's own environment
// (every child inherits it) and the run settings' host folder set to the host folder as the
// jobs see it. The environment and the run settings are put back after each test.
class InProcess : public E2E {
 protected:
  InProcess();
  ~InProcess() override;

  // Makes path the host folder of the run settings, as it stands (it must fit their buffer).
  void useHostPath(const std::string& path);

 private:
  RunSettings savedSettings_;
};
