// For the tests that call the process layer and the jobs inside the test program itself, with
// the test double as their child.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "front/settings.h"
#include "host/process.h"

// The E2E folders, with the double's control folder named in this program's own environment
// (every child inherits it) and the run settings' folders set to the drive and host folders as
// the jobs see them. The environment and the run settings are put back after each test.
class InProcess : public E2E {
 protected:
  InProcess();
  ~InProcess() override;

  // Makes path the host folder of the run settings, as it stands (it must fit their buffer).
  void useHostPath(const std::string& path);
  // Sets (or, with nullopt, removes) a variable of this program's environment until the test ends.
  void setEnvironment(const std::string& name, const std::optional<std::string>& value);

 private:
  RunSettings savedSettings_;
  ProcessCreate savedCreate_;
  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};
