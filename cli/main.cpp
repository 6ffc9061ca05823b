// vlmconv: the conversion pipeline on the command line.
#include <cstdio>

int main() {
  std::puts("vlmconv " VLM_VERSION);
  return 0;
}
