// Uses the installed package: public headers only, one exported target.
#include <corvenza/corvenza.h>

#include <cstdio>

int main() {
  corvenza::CorvenzaError error(corvenza::CorvenzaErrorReason::configNotFound);
  std::printf("corvenza %s: %s %d\n", corvenza::versionString(), error.domain().c_str(),
              error.code());
  return error.code() == 1997 ? 0 : 1;
}
