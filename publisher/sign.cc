// updater-manifest sign: the manifest's detached signature.
#include <stdio.h>

#include "publisher.h"

namespace {

const char kSignHelp[] =
    "updater-manifest sign MANIFEST --cert CERT --key KEY\n"
    "\n"
    "Writes MANIFEST.p7s: a detached CMS (PKCS #7) SignedData in DER over the exact bytes of MANIFEST, SHA-256\n"
    "with the key's algorithm, with no signed attributes, carrying the signer certificate (PEM files).\n"
    "Serve it beside the manifest, at /api/pellixupdatecfg.xml.p7s. Refuses a manifest without <serial>,\n"
    "<product> and <expires>: builds with signed releases take no manifest without them.\n";

}  // namespace

int Sign(const std::vector<std::string>& args) {
  std::string manifest, cert, key;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help") {
      fputs(kSignHelp, stdout);
      return 0;
    }
    if ((args[i] == "--cert" || args[i] == "--key") && i + 1 < args.size()) {
      (args[i] == "--cert" ? cert : key) = args[i + 1];
      ++i;
    } else if (args[i][0] != '-' && manifest.empty()) {
      manifest = args[i];
    } else {
      return UsageError(UnknownOption(args[i]));
    }
  }
  if (manifest.empty() || cert.empty() || key.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string data, why;
  if (!ReadWhole(manifest, &data)) {
    fprintf(stderr, "updater-manifest sign: cannot read %s\n", manifest.c_str());
    return 1;
  }
  std::string fault = FeedFault(data);
  if (!fault.empty()) {
    fprintf(stderr, "updater-manifest sign: %s: %s\n", manifest.c_str(), fault.c_str());
    return 1;
  }
  std::string signature = SignBytes(data, cert, key, &why);
  if (signature.empty() || !WriteFile(manifest + ".p7s", signature)) {
    fprintf(stderr, "updater-manifest sign: %s\n", signature.empty() ? why.c_str() : "cannot write the signature");
    return 1;
  }
  printf("wrote %s.p7s (%zu bytes)\n", manifest.c_str(), signature.size());
  return 0;
}
