// The fixed texts of the system, each worded once and used wherever its role
// is named. Grouped by the part of the program that owns them. Source files
// are UTF-8; user-visible texts are Simplified Chinese.
#pragma once

namespace FixedText {

// ---- Start-up and run-wide state (application object) ----

// Names both the single-instance mutex and the registered window message
// with which a second copy asks the running one to come to the front.
constexpr const wchar_t* kSingleInstanceName = L"Kavetta.SingleInstance.6B1F0C52-3D47-4E8A-9F21-8C5A7D3E2B10";
// Company key of the class library's registry key.
constexpr const wchar_t* kCompanyKey = L"Kavetta";
// The program's own version (four-part dotted).
constexpr const wchar_t* kOwnVersion = KAVETTA_VERSION_TEXT;  // set by the build from the project version
// The 64-bit query: module and entry point, bound at run time so that a
// system without it counts as 32-bit.
constexpr const wchar_t* kWow64QueryModule = L"kernel32.dll";
constexpr const char* kWow64QueryFunction = "IsWow64Process";
// A Windows folder equal to this (letter case ignored) is the boot
// environment's own, not an installed system: the system drive stays empty.
constexpr const wchar_t* kBootEnvironmentWindowsFolder = L"X:\\Windows";

// Initial folder texts. The work folder starts empty so that a copy that ends
// before creating one deletes nothing at exit.
constexpr const wchar_t* kInitialWorkFolder = L"";
constexpr const wchar_t* kInitialDataFolder = L"";
constexpr const wchar_t* kInitialBackupFolder = L"";
// Name of the data folder created on the chosen partition.
constexpr const wchar_t* kDataFolderName = L"KavettaData";

// Short prefix of the program's own file names.
constexpr const wchar_t* kFilePrefix = L"kvt";
// Base name of the tool file.
constexpr const wchar_t* kToolBaseName = L"kvttool";
// Name of the tool file on the USB boot disk.
constexpr const wchar_t* kUsbToolFileName = L"kvttool.bin";
// Volume labels of the USB data partition (the second when the boot-mode flag is set).
constexpr const wchar_t* kUsbVolumeLabel = L"KAVETTA";
constexpr const wchar_t* kUsbVolumeLabelAlt = L"KAVETTA_PE";

// Link targets of the header link button and the hidden web tab button.
constexpr const wchar_t* kHeaderLinkTarget = L"https://www.kavetta.example/";
constexpr const wchar_t* kWebLinkTarget = L"https://www.kavetta.example/help/";

// Marker that an accepted online configuration carries on its first significant line.
constexpr const wchar_t* kConfigMarker = L";KAVETTA-CATALOGUE";

// Passwords of the enciphered INI values and of the hand-over INI.
constexpr const wchar_t* kIniPassword = L"kvt-ini-7Qm2";
constexpr const wchar_t* kHandOverPassword = L"kvt-handover-R4x9";

// Texts handed to the boot environment and used by the boot setup.
constexpr const wchar_t* kBootEntryTag = L"KavettaPE";
constexpr const wchar_t* kHandOverTextA = L"kavetta";
constexpr const wchar_t* kHandOverTextB = L"1";
constexpr const wchar_t* kHandOverTextC = L"auto";
constexpr const wchar_t* kHandOverIniName = L"kvthandover.ini";
constexpr const wchar_t* kRestartIniName = L"kvtrestart.ini";
constexpr const wchar_t* kBootFileTag = L"kvtboot";
constexpr const wchar_t* kRestartIniValue = L"reinstall";

// Key texts of the payloads: one for the 7-Zip library and the tools archive,
// one for the skin archive. The build enciphers the payloads with these.
constexpr const wchar_t* kPayloadKeyText = L"Kavetta payload key 2026";
constexpr const wchar_t* kSkinKeyText = L"Kavetta skin key 2026";

// The built-in mirror entry of the online configuration, stored enciphered
// and split in two texts that the constructor joins.
constexpr const wchar_t* kBuiltInMirrorHead = L"";
constexpr const wchar_t* kBuiltInMirrorTail = L"";

// ---- Digests, hex cipher, text and process utilities, INI files ----

// MD5 digests. The expected digests of the catalogue are bare upper-case
// digits, so the digits follow an empty initial text.
constexpr const wchar_t* kMd5InitialSourceText = L"";
constexpr const wchar_t* kMd5InitialFilePath = L"";
constexpr const wchar_t* kMd5EmptyDigestText = L"";
constexpr const wchar_t* kMd5FileInitialText = L"";
// Results that can never equal a digest.
constexpr const wchar_t* kMd5NoDigestText = L"no-digest";
constexpr const wchar_t* kMd5NoFileText = L"no-file";
constexpr const wchar_t* kMd5MissingFileText = L"file-missing";
// Put after every pair of digits in the separated result forms.
constexpr const wchar_t* kMd5ByteSeparator = L"-";

// Hex cipher. With empty result texts a stored value is the bare digits, and
// a failure gives an empty value, which every reader treats as missing.
constexpr const wchar_t* kCipherResultText = L"";
constexpr const wchar_t* kDecipherResultText = L"";
// The debugger-output line of a failing CryptoAPI step: caption, step, system text.
constexpr const wchar_t* kCipherDiagnosticCaption = L"Kavetta hex cipher";
constexpr const wchar_t* kCipherDiagnosticFormat = L"%s: %s failed: %s\n";
// One text per step, in the order the steps run.
constexpr const wchar_t* kCipherEncipherSteps[] = {
    L"encipher: acquire context", L"encipher: create hash", L"encipher: hash password",
    L"encipher: derive key", L"encipher: encipher"};
constexpr const wchar_t* kCipherDecipherSteps[] = {
    L"decipher: acquire context", L"decipher: create hash", L"decipher: hash password",
    L"decipher: derive key", L"decipher: decipher"};

// Versions: how the two texts of a comparison are read, and how a file's
// product version is written. The configuration's and the program's own
// version texts use this dotted form.
constexpr const wchar_t* kVersionScanFirst = L"%d.%d.%d.%d";
constexpr const wchar_t* kVersionScanSecond = L"%d.%d.%d.%d";
constexpr const wchar_t* kVersionFormat = L"%u.%u.%u.%u";
constexpr const wchar_t* kNoVersionText = L"(no file)";
constexpr const wchar_t* kNoVersionResourceText = L"(no version)";
// Size texts: a floating-point value, then the unit text.
constexpr const wchar_t* kSizeTextSmallFormat = L"%.2f %s";
constexpr const wchar_t* kSizeTextLargeFormat = L"%.2f %s";
constexpr const wchar_t* kByteSizeSmallFormat = L"%.0f %s";
constexpr const wchar_t* kByteSizeLargeFormat = L"%.0f %s";
// Remaining time: hours, minutes, seconds.
constexpr const wchar_t* kDurationFormat = L"%02d:%02d:%02d";

// (end of section)

// ---- Payloads, work folder, skin pictures ----

// (end of section)

// ---- Download engine, share links, catalogue records, TEA ciphers, built-in lists ----

// The download-engine library: its file name in the work folder and its 18
// export names in binding order (engine/ exports exactly these).
constexpr const wchar_t* kEngineLibraryName = L"kvtengine.dll";
constexpr const char* const kEngineExportNames[18] = {
    "KvtInitialize",   "KvtUninitialize",  "KvtCreateTask",    "KvtDeleteTask",   "KvtStartTask",
    "KvtStartAll",     "KvtStopTask",      "KvtStopAll",       "KvtQueryTask",    "KvtQueryTaskEx",
    "KvtSetSpeedLimit", "KvtSetProxy",     "KvtSetUserAgent",  "KvtSetMaxTasks",  "KvtGetVersion",
    "KvtDeleteAll",    "KvtSetConnections", "KvtSetOption",
};

// (end of section)

// ---- Online configuration and system facts ----

// (end of section)

// ---- Disks, data folder, boot setup ----

// (end of section)

// ---- Skinned controls and message box (user-visible texts are Simplified Chinese) ----

// (end of section)

}  // namespace FixedText
