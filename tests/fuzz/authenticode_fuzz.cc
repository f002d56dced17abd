// libFuzzer target for the publisher's Authenticode check: any bytes as an
// installer image, judged with and without a pin. It must answer, never crash.
#include <stdint.h>

#include <string>
#include <vector>

#include "publisher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string image(reinterpret_cast<const char*>(data), size);
  std::string signer;
  AuthenticodeFault(image, {}, &signer);
  AuthenticodeFault(image, {std::string(64, 'a')}, &signer);
  return 0;
}
