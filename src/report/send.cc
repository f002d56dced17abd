#include "outside/outside.h"
#include "platform/platform.h"
#include "report/report.h"
#include "shared/log.h"
#include "shared/session_deadline.h"

namespace {

// One attempt: the HTTP status, 0 when no server answered in time (the
// reason in `error`). The request's flags keep out the cache, cookies and
// the user's logon.
int SendThrough(const wchar_t* url, int viaProxy, unsigned* error) {
  *error = 0;
  platform::Internet session = platform::OpenSession(outside::kManifestUrl, viaProxy);
  if (!session) return 0;
  SessionDeadline owner(session, "report", kReportDeadlineMs);
  Watch deadline(&owner, kReportDeadlineMs);
  platform::Internet request = platform::OpenUrlReload(session, url, kReportDeadlineMs);
  *error = platform::LastError();
  int status = request && !deadline.Expired() ? platform::QueryStatusCode(request) : 0;  // nothing more is read
  if (deadline.Stop()) {
    owner.LogPassed();
    request.Forget();  // gone with the session
    session.Forget();
    *error = platform::kErrorInternetTimeout;
    return 0;
  }
  return status;
}

}  // namespace

int SendReport(const Report& report) {
  char target[640];
  const size_t base = sizeof outside::kReportUrlText - 1;
  if (!ReportQuery(report, target + base, sizeof target - base)) return 0;
  for (size_t i = 0; i < base; ++i) target[i] = outside::kReportUrlText[i];
  wchar_t url[sizeof target];
  for (size_t i = 0; i < sizeof target; ++i) {
    url[i] = static_cast<unsigned char>(target[i]);  // ASCII throughout
    if (!target[i]) break;
  }
  unsigned error = 0;
  int status = SendThrough(url, 0, &error);
  if (!status && platform::NeverReachedServer(error) && platform::SystemHasProxy()) {
    status = SendThrough(url, 1, &error);
  }
  const char* meaning = platform::ErrorMeaning(error);
  if (status) {
    Log("report: %s sent to %s: HTTP %d", report.event, target, status);
  } else {
    Log("report: %s not sent to %s: no answer, error %u%s%s", report.event, target, error, meaning ? ", " : "",
        meaning ? meaning : "");
  }
  return status != 0;
}
