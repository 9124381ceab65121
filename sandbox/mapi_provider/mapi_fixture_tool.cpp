// Writes the sandbox MAPI fixture for a demo run:
//   orvl_mapi_fixture.exe demo             the sample profiles
//   orvl_mapi_fixture.exe clear            no fixture at all
//   orvl_mapi_fixture.exe logfile <path>   also append the provider's record to <path>

#include <cstdio>
#include <cstring>

#include "mapi_fixture.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "demo") == 0) {
    if (!MapiFixture::WriteDemo()) {
      std::fprintf(stderr, "orvl_mapi_fixture: could not write the demo fixture\n");
      return 1;
    }
    std::printf("demo fixture written to HKCU\\%s\n", MapiFixture::kRoot);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "clear") == 0) return MapiFixture::Clear() ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "logfile") == 0)
    return MapiFixture::SetLogFile(std::string(argv[2])) ? 0 : 1;
  std::fprintf(stderr, "usage: orvl_mapi_fixture demo | clear | logfile <path>\n");
  return 2;
}
