// updater-manifest report LOG...: what the fleet reported, from the web
// server's own access logs.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "publisher.h"
#include "report_log.h"

namespace {

const char kReportHelp[] =
    "updater-manifest report [LOG]... [--since TIME] [--until TIME] [--by-tenth] [--json] [--html FILE]\n"
    "\n"
    "Reads web-server access logs in the combined format (nginx's and Apache's default), plain or gzip, from\n"
    "the files or, with none or \"-\", from standard input, and counts the outcome reports Updater.exe sends\n"
    "to /api/pellixupdatereport when the manifest carries <report>1</report>. For each offered version: the\n"
    "reports by event (declined, failed, start-failed, updated, not-applied, expired), the codes within\n"
    "failed and start-failed, and the share of started installers that updated. --by-tenth splits them by\n"
    "the clients' rollout tenth (0-9; none for a client without a seed), so that each stage shows its own\n"
    "health. TIME is YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, UTC; --since is inclusive, --until exclusive.\n"
    "--json prints the same as JSON; --html FILE also writes one self-contained page. Lines that are not\n"
    "reports are skipped and counted, and lines that cannot be read are counted; at most 1,000 versions, codes\n"
    "and days are kept, the rest counted as \"other\". Every value from the log is escaped in each output.\n";

// A UTC time of the options; -1 when it is none.
time_t OptionTime(const std::string& text) {
  struct tm t = {};
  const char* end = strptime(text.c_str(), "%Y-%m-%d", &t);
  if (end && *end == 'T') end = strptime(end + 1, "%H:%M:%S", &t);
  return end && !*end ? timegm(&t) : -1;
}

}  // namespace

int ReportCommand(const std::vector<std::string>& args) {
  std::vector<std::string> logs;
  std::string since, until, html;
  bool byTenth = false, json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* value = a == "--since" ? &since : a == "--until" ? &until : a == "--html" ? &html : nullptr;
    if (a == "--help") {
      fputs(kReportHelp, stdout);
      return 0;
    } else if (value && i + 1 < args.size()) {
      *value = args[++i];
    } else if (a == "--by-tenth" || a == "--json") {
      (a == "--json" ? json : byTenth) = true;
    } else if (a == "-" || a[0] != '-') {
      logs.push_back(a);
    } else {
      fprintf(stderr, "updater-manifest report: unknown or incomplete option %s\n", a.c_str());
      return 2;
    }
  }
  time_t from = since.empty() ? 0 : OptionTime(since);
  time_t to = until.empty() ? static_cast<time_t>(1) << 62 : OptionTime(until);
  if (from < 0 || to < 0) {
    fprintf(stderr, "updater-manifest report: --since and --until take YYYY-MM-DD[THH:MM:SS] (UTC)\n");
    return 2;
  }
  if (logs.empty()) logs.push_back("-");
  ReportTally tally;
  for (const std::string& log : logs) {
    if (!TallyLog(log, from, to, &tally)) {
      fprintf(stderr, "updater-manifest report: cannot read %s\n", log.c_str());
      return 1;
    }
  }
  if (json) {
    PrintJson(tally, byTenth);
  } else {
    PrintTables(tally, byTenth);
  }
  if (!html.empty() && !WriteHtml(tally, html)) {
    fprintf(stderr, "updater-manifest report: cannot write %s\n", html.c_str());
    return 1;
  }
  return 0;
}
