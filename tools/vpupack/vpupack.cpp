// vpupack create IN OUT: packs a file as a ".vpu" package.
// vpupack info FILE: tells what a package holds; exits 1 when it would not unpack.
#include <cstdio>

#include "pack.h"

int main(int argc, char** argv) { return vpupackMain(argc, argv, stdout, stderr); }
