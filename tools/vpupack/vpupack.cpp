// vpupack create IN OUT: packs a file as a ".vpu" package, warning when it is no Windows program.
// vpupack info FILE: tells what a package holds; exits 1 when it would not unpack.
// vpupack extract PKG OUT: writes the image kou3upd would unpack.
// vpupack check FOLDER: what kou3upd would take from a drive folder; exits 1 when it would fail.
#include <cstdio>

#include "pack.h"

int main(int argc, char** argv) { return vpupackMain(argc, argv, stdout, stderr); }
