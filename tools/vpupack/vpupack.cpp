// vpupack create IN OUT: packs a file as a ".vpu" package, warning when it is no Windows program.
// vpupack info FILE: tells what a package holds; exits 1 when it would not unpack.
// vpupack extract PKG OUT: writes the image kou3upd would unpack.
// vpupack check FOLDER: what kou3upd would take from a drive folder; exits 1 when it would fail.
// vpupack plan [OPTIONS] [-- COMMAND LINE]: what kou3upd would do with that command line.
#include <cstdio>
#include <cstring>

#include "pack.h"
#include "plan.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "plan") == 0) return vpupackPlan(argc - 1, argv + 1, stdout, stderr);
  return vpupackMain(argc, argv, stdout, stderr);
}
