// Fixed names and addresses of the host application and the update server.
#pragma once

#ifndef UPDATER_SERVER_HOST
#define UPDATER_SERVER_HOST "update.orvessa.invalid"
#endif
#ifndef UPDATER_SERVER_SCHEME
#define UPDATER_SERVER_SCHEME "http"
#endif
#ifndef UPDATER_PRODUCT
#define UPDATER_PRODUCT "Orvessa"
#endif

namespace outside {

// Host application.
const char kHostExeName[] = "Orvessa.exe";
const wchar_t kHostWindowTitle[] = L"Orvessa";
const wchar_t kPlayerWindowTitle[] = L"TarvelonFlashPlayer";
const wchar_t kRegistryKey[] = L"Software\\TarvelonMM\\Orvessa";
const wchar_t kRegUpdateFlag[] = L"swfUpdate";
const char kRegUpdateTime[] = "swfUpdateTime";
// The client's random place in staged rollouts, made once.
const wchar_t kRegSeed[] = L"updateSeed";
const char kRegSeedText[] = "updateSeed";
// With signed releases: the highest feed serial accepted.
const wchar_t kRegSerial[] = L"updateSerial";
const char kRegSerialText[] = "updateSerial";
// Outcome reports: a user's or an administrator's opt-out (REG_DWORD 0), the
// version an installer was started for, and the last report sent.
const char kRegReportText[] = "updateReport";
const char kRegStartedText[] = "updateStarted";
const char kRegReportedText[] = "updateReported";
// The offered version whose installer did not start, and when (UTC):
// "1.2.0.5|2026-12-09T08:00:00Z". That version is not offered again for a while.
const char kRegStartFailedText[] = "updateStartFailed";
// The product a signed feed must name (one per channel: "Orvessa-beta").
const char kProductName[] = UPDATER_PRODUCT;

// Held for the whole of a run, so that runs in one session never overlap.
const wchar_t kRunMutexName[] = L"Local\\TarvelonMM.Orvessa.Updater.Run";

// Work directory and the files kept in it.
const char kWorkDirName[] = "kelvaport\\";
const char kFallbackWorkDirName[] = "temp\\";
const char kInstallerName[] = "setup.exe";
const char kContentName[] = "mnMain.swf";
const char kContentPartName[] = "mnMain.swf.part";
// Kept across runs: bytes of an installer that did not arrive whole, and a
// whole, trusted installer that did not start, each with its record.
const char kInstallerPartName[] = "setup.exe.part";
const char kInstallerPartRecordName[] = "setup.exe.part.txt";
const char kVerifiedName[] = "setup.exe.verified";
const char kVerifiedRecordName[] = "setup.exe.verified.txt";
const char kLongestKeptName[] = "setup.exe.verified.txt";  // every kept name fits where this does
const char kLogName[] = "update.log";
const char kOldLogName[] = "update.log.1";

// Update server: the manifest address (also sent as the User-Agent) and its
// detached signature (builds that require signed releases), each wide for the
// requests and narrow for the cache and the log.
#define UPDATER_MANIFEST_URL UPDATER_SERVER_SCHEME "://" UPDATER_SERVER_HOST "/api/pellixupdatecfg.xml?1"
#define UPDATER_SIGNATURE_URL UPDATER_SERVER_SCHEME "://" UPDATER_SERVER_HOST "/api/pellixupdatecfg.xml.p7s"
#define UPDATER_WIDE(text) L"" text
const wchar_t kManifestUrl[] = UPDATER_WIDE(UPDATER_MANIFEST_URL);
const char kManifestUrlText[] = UPDATER_MANIFEST_URL;
const wchar_t kSignatureUrl[] = UPDATER_WIDE(UPDATER_SIGNATURE_URL);
const char kSignatureUrlText[] = UPDATER_SIGNATURE_URL;
// Outcome reports: the same server, never an address from the manifest; the
// query follows.
const char kReportUrlText[] = UPDATER_SERVER_SCHEME "://" UPDATER_SERVER_HOST "/api/pellixupdatereport?";

}  // namespace outside
