// Fixed names and addresses of the host application and the update server.
#pragma once

#ifndef UPDATER_SERVER_HOST
#define UPDATER_SERVER_HOST "update.orvessa.invalid"
#endif

namespace outside {

// Host application.
const char kHostExeName[] = "Orvessa.exe";
const wchar_t kHostWindowTitle[] = L"Orvessa";
const wchar_t kPlayerWindowTitle[] = L"TarvelonFlashPlayer";
const wchar_t kRegistryKey[] = L"Software\\TarvelonMM\\Orvessa";
const wchar_t kRegUpdateFlag[] = L"swfUpdate";
const char kRegUpdateTime[] = "swfUpdateTime";

// Held for the whole of a run, so that runs in one session never overlap.
const wchar_t kRunMutexName[] = L"Local\\TarvelonMM.Orvessa.Updater.Run";

// Work directory and the files kept in it.
const char kWorkDirName[] = "kelvaport\\";
const char kFallbackWorkDirName[] = "temp\\";
const char kInstallerName[] = "setup.exe";
const char kContentName[] = "mnMain.swf";
const char kContentPartName[] = "mnMain.swf.part";
const char kLogName[] = "update.log";
const char kOldLogName[] = "update.log.1";

// Update server: the manifest address, also sent as the User-Agent.
const wchar_t kManifestUrl[] = L"http://" UPDATER_SERVER_HOST "/api/pellixupdatecfg.xml?1";
// The manifest's detached signature, used by builds that require signed releases.
const wchar_t kSignatureUrl[] = L"http://" UPDATER_SERVER_HOST "/api/pellixupdatecfg.xml.p7s";
const char kSignatureUrlText[] = "http://" UPDATER_SERVER_HOST "/api/pellixupdatecfg.xml.p7s";
const char kManifestUrlText[] = "http://" UPDATER_SERVER_HOST "/api/pellixupdatecfg.xml?1";  // for the log

}  // namespace outside
