// Placeholder entry until the bridge is wired: prints the version and ends.
#include <cstdio>

int main() {
  std::printf("Version 0.3\n");
  return 1;
}
