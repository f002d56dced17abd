// libFuzzer target for the manifest reader and the offer decision: any bytes,
// any length.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "manifest/manifest.h"
#include "offer/offer.h"

namespace {

void MustBeTerminated(const char* field, size_t capacity) {
  if (strnlen(field, capacity) == capacity) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* text = static_cast<char*>(malloc(size + 1));
  memcpy(text, data, size);
  text[size] = '\0';
  UpdateManifest m = ReadManifest(text);
  // Every field is terminated inside its buffer.
  MustBeTerminated(m.contentUrl, sizeof m.contentUrl);
  MustBeTerminated(m.contentDate, sizeof m.contentDate);
  MustBeTerminated(m.version, sizeof m.version);
  MustBeTerminated(m.installerUrl, sizeof m.installerUrl);
  if (m.forced != 0 && m.forced != 1) abort();
  // Whatever it holds, the decision is one verdict with its reasons, each terminated.
  ClientFacts client = {"1.1.0.12181", 1, 1, 0x01020304, 1, 5, "2026-12-09T12:00:00Z"};
  for (int policyBits = 0; policyBits < 4; ++policyBits) {
    m.signatureTrusted = policyBits & 1;
    BuildPolicy policy = {policyBits & 1, policyBits >> 1, "Orvessa"};
    UpdateDecision d = DecideUpdate(m, client, policy);
    if (d.noteCount < 0 || d.noteCount > kDecisionNotes || (d.offer.yes && !d.feed.yes)) abort();
    MustBeTerminated(d.offer.reason, sizeof d.offer.reason);
    for (int i = 0; i < d.noteCount; ++i) MustBeTerminated(d.notes[i], sizeof d.notes[i]);
  }
  free(text);
  return 0;
}
