"""Outcome reports (the manifest asks for them): one GET to the report path
of the manifest's own server after the user's answer, after a failed download
or start, or at the end of a run without a prompt; never once an installer
has started, whose version waits in updateStarted for a later run to judge."""
import time
import unittest

import harness
from harness import (E2ETest, MANIFEST_PATH, installer_bytes, manifest, reg_query, foreign_installer_bytes)
from standin_server import Route

SETUP = "/download/setup.exe"
REPORT = "/api/pellixupdatereport?"
REPORT_DEADLINE = harness.product_limit("REPORT_DEADLINE")
ABORT_GRACE = harness.product_limit("ABORT_GRACE")


class ReportTest(E2ETest):
    def offer(self, installer=None, report_route=None, version="1.1.0.12182"):
        routes = {MANIFEST_PATH: Route(manifest(version=version, url=self.server.url(SETUP),
                                                extra="<report>1</report>")),
                  SETUP: installer or Route(installer_bytes())}
        if report_route is not None:
            routes[report_route[0]] = report_route[1]
        self.serve(routes)

    def reports(self):
        return [r for r in self.server.requests if r["path"].startswith(REPORT)]

    def test_declined_is_reported_once_after_the_answer(self):
        self.offer()
        self.case.start()
        self.case.answer_prompt("n")
        self.assertEqual(0, self.case.finish())
        sent = self.reports()
        self.assertEqual([REPORT + "e=declined&from=1.1.0.12181&to=1.1.0.12182&code="], [r["path"] for r in sent])
        self.assertGreater(sent[0]["time"], self.case.prompt_seen)
        manifest_request = self.server.requests[0]
        self.assertEqual(manifest_request["headers"]["user-agent"], sent[0]["headers"]["user-agent"])
        self.assertNotIn("cookie", sent[0]["headers"])
        self.assert_logged("report: declined sent to http://127.0.0.1:%d%se=declined" % (harness.PORT, REPORT))
        # Declined again at the next start: not twice in a row.
        self.offer()  # the same, with the server's record of requests emptied
        self.case.start()
        self.case.answer_prompt("n")
        self.assertEqual(0, self.case.finish())
        self.assertEqual([], self.reports())
        self.assert_logged("report: declined for 1.1.0.12182 sent before, not again")

    def test_started_installer_then_updated(self):
        self.offer()
        self.case.start_host()
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertEqual([], self.reports())  # the start is the run's last act
        self.assertEqual(("REG_SZ", "1.1.0.12182"), reg_query("updateStarted"))
        self.case.stop_host()
        harness.set_file_version(self.case.app + "/Orvessa.exe", (1, 1, 0, 12182))
        self.offer()  # the same release, now installed
        self.assertEqual(0, self.case.run())
        self.assertEqual([REPORT + "e=updated&from=1.1.0.12182&to=1.1.0.12182&code="],
                         [r["path"] for r in self.reports()])
        self.assertEqual(("REG_SZ", ""), reg_query("updateStarted"))

    def test_installer_that_cannot_start(self):
        self.offer(installer=Route(foreign_installer_bytes()))
        self.case.start_host()
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())
        self.assertEqual([REPORT + "e=start-failed&from=1.1.0.12181&to=1.1.0.12182&code=193"],
                         [r["path"] for r in self.reports()])
        log = self.assert_logged("hand-over: Orvessa started again", "report: start-failed sent")
        self.assertLess(log.index("started again"), log.index("report: start-failed"))
        self.assertEqual(("REG_SZ", ""), reg_query("updateStarted"))

    def test_installer_not_found(self):
        self.offer(installer=Route(b"<html>not here</html>", status=404))
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())
        self.assertEqual([REPORT + "e=failed&from=1.1.0.12181&to=1.1.0.12182&code=http-404"],
                         [r["path"] for r in self.reports()])

    def test_report_path_that_never_answers(self):
        path = REPORT + "e=declined&from=1.1.0.12181&to=1.1.0.12182&code="
        self.offer(report_route=(path, Route(never_answer=True)))
        self.case.start()
        self.case.answer_prompt("n")
        answered = time.time()
        self.assertEqual(0, self.case.finish(timeout=REPORT_DEADLINE + ABORT_GRACE + 30))
        self.assertLess(time.time() - answered, REPORT_DEADLINE + ABORT_GRACE)
        self.assert_logged("report: the request passed its deadline of %d ms" % (REPORT_DEADLINE * 1000),
                           "report: declined not sent to")
        self.assertIsNone(reg_query("updateReported"))  # tried again at the next run


if __name__ == "__main__":
    unittest.main()
