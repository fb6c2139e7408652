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

// Paths and processes. The program path of a command line is quoted by
// RunProcessAndWait; the arguments follow after one space.
constexpr const wchar_t* kProcessArgumentFormat = L" %s";
constexpr const wchar_t* kPathSeparator = L"\\";
constexpr const wchar_t* kWildcard = L"*";
constexpr const wchar_t* kCurrentFolderEntry = L".";
constexpr const wchar_t* kParentFolderEntry = L"..";

// INI files. The placeholder holds no hexadecimal digit, so it can never
// pass for an enciphered value.
constexpr const wchar_t* kIniDefaultPassword = L"kvt-ini-default-Wq7z";
constexpr const wchar_t* kIniPlaceholderDefault = L"<missing>";
constexpr const wchar_t* kIniIntFormat = L"%d";
constexpr const wchar_t* kIniDefaultExtension = L".ini";

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

// System facts over WMI. The namespace, the select prefix and the query
// language of every query.
constexpr const wchar_t* kWmiNamespace = L"ROOT\\CIMV2";
constexpr const wchar_t* kWmiSelectPrefix = L"SELECT * FROM ";
constexpr const wchar_t* kWmiQueryLanguage = L"WQL";
// How long one query waits for its first object; WMI answers a local query
// in well under a second, a service that hangs must not stop the check.
constexpr long kWmiNextTimeoutMs = 15000;
// The description of the system: edition, then service pack, then the word size.
constexpr const wchar_t* kOsDescriptionClass1 = L"Win32_OperatingSystem";
constexpr const wchar_t* kOsDescriptionProperty1 = L"Caption";
constexpr const wchar_t* kOsDescriptionClass2 = L"Win32_OperatingSystem";
constexpr const wchar_t* kOsDescriptionProperty2 = L"CSDVersion";
constexpr const wchar_t* kOsDescriptionSeparator = L" ";
constexpr const wchar_t* kWordSize64 = L"64位";
constexpr const wchar_t* kWordSize32 = L"32位";
// The classified property: the chassis type of the machine. "Other" and
// "Unknown" are what virtual machines usually report, so those two are
// refined by the model name of the computer.
constexpr const wchar_t* kChassisClass = L"Win32_SystemEnclosure";
constexpr const wchar_t* kChassisProperty = L"ChassisTypes";
constexpr const wchar_t* kChassisRefineClass = L"Win32_ComputerSystem";
constexpr const wchar_t* kChassisRefineProperty = L"Model";
constexpr const wchar_t* kChassisSpecialValue1 = L"1";
constexpr const wchar_t* kChassisSpecialText1 = L"其他类型";
constexpr const wchar_t* kChassisSpecialMarker1 = L"Virtual";
constexpr const wchar_t* kChassisRefinedText1 = L"虚拟机";
constexpr const wchar_t* kChassisSpecialValue2 = L"2";
constexpr const wchar_t* kChassisSpecialText2 = L"未知类型";
constexpr const wchar_t* kChassisSpecialMarker2 = L"VMware";
constexpr const wchar_t* kChassisRefinedText2 = L"VMware 虚拟机";
struct DisplayTextRow {
    const wchar_t* value;
    const wchar_t* text;
};
constexpr DisplayTextRow kChassisTable[20] = {
    {L"3", L"台式机"},          {L"4", L"低矮台式机"},      {L"5", L"比萨盒式台式机"}, {L"6", L"迷你塔式机"},
    {L"7", L"塔式机"},          {L"8", L"便携式电脑"},      {L"9", L"笔记本电脑"},     {L"10", L"笔记本电脑"},
    {L"11", L"手持设备"},       {L"13", L"一体机"},         {L"14", L"超薄笔记本"},    {L"15", L"节省空间型台式机"},
    {L"16", L"午餐盒式电脑"},   {L"23", L"机架式服务器"},   {L"24", L"密封式电脑"},    {L"30", L"平板电脑"},
    {L"31", L"二合一笔记本"},   {L"32", L"可拆卸笔记本"},   {L"35", L"迷你主机"},      {L"36", L"电脑棒"},
};
constexpr const wchar_t* kChassisDefaultText = L"普通电脑";
// Texts of variant values.
constexpr const wchar_t* kVariantTrueText = L"是";
constexpr const wchar_t* kVariantFalseText = L"否";
constexpr const wchar_t* kVariantI4Format = L"%d";
constexpr const wchar_t* kVariantUI1Format = L"%u";
constexpr const wchar_t* kVariantUI4Format = L"%u";
constexpr const wchar_t* kVariantArrayElementFormat = L"%d";
// Highest array index that VariantToText formats.
constexpr long kVariantArrayLastIndex = 519;
// The kernel query of the installed memory (kilobytes).
constexpr const wchar_t* kInstalledMemoryModule = L"kernel32.dll";
constexpr const char* kInstalledMemoryFunction = "GetPhysicallyInstalledSystemMemory";

// Fetch of the online configuration. Lines equal to the skip text (blank
// lines) before the marker line are passed over.
constexpr const wchar_t* kConfigSkipText = L"";
constexpr const wchar_t* kConfigAgentName = L"Kavetta/1.0";
// Time-outs of the configuration request (connect, send, receive), so that a
// mirror that accepts but never answers counts as failed.
constexpr unsigned long kConfigTimeoutMs = 30000;

// The configuration's format: section and key names. A key read without a
// default reads as empty when it is missing.
// Category sections (named by the category's token).
constexpr const wchar_t* kCfgListKey = L"list";
constexpr const wchar_t* kCfgCaptionKey = L"caption";
constexpr const wchar_t* kCfgCaptionDefault = L"";  // empty: a category without caption is disabled in both forms
constexpr const wchar_t* kCfgTextKey = L"text";
// Image, entry and file sections.
constexpr const wchar_t* kCfgRequiredKey = L"name";
constexpr const wchar_t* kCfgRequiredDefault = L"";  // empty: a section without the key is rejected
constexpr const wchar_t* kCfgTypeKey = L"type";
constexpr const wchar_t* kCfgTypeDefault = L"iso";
constexpr const wchar_t* kCfgNumberKey = L"number";
constexpr const wchar_t* kCfgMatchKey = L"match";
constexpr const wchar_t* kCfgTitleKey = L"title";
constexpr const wchar_t* kCfgTitleDefault = L"未命名系统";
constexpr const wchar_t* kCfgDescriptionKey = L"desc";
constexpr const wchar_t* kCfgDescriptionDefault = L"暂无介绍";
constexpr const wchar_t* kCfgDetail2Key = L"detail2";
constexpr const wchar_t* kCfgDetail2Default = L"";
constexpr const wchar_t* kCfgDetail1Key = L"detail1";
constexpr const wchar_t* kCfgDetail1Default = L"";
constexpr const wchar_t* kCfgFileKey = L"file";
constexpr const wchar_t* kCfgFileNameJoin = L".";  // default file name: section + this + type text
constexpr const wchar_t* kCfgUsbKey = L"usb";
constexpr const wchar_t* kCfgDigestKey = L"md5";
constexpr const wchar_t* kCfgDigestDefaultSuffix = L".nomd5";  // section + this: matches no real digest
constexpr const wchar_t* kCfgLinkKey = L"link";
// Mirror keys: the id list, or a count; per id a URL key and a type key.
constexpr const wchar_t* kCfgMirrorIdsKey = L"mirrors";
constexpr const wchar_t* kCfgMirrorIdsDefault = L"";
constexpr const wchar_t* kCfgMirrorCountKey = L"mirrorcount";
constexpr const wchar_t* kCfgMirrorCountFormat = L"%d";
constexpr const wchar_t* kCfgMirrorUrlPattern = L"url%s";
constexpr const wchar_t* kCfgMirrorUrlDefault = L"";
constexpr const wchar_t* kCfgMirrorTypePattern = L"urltype%s";
constexpr int kCfgMaxMirrors = 10;
// Recommended entries carry this system-type token.
constexpr const wchar_t* kCfgRecommendedToken = L"win1064";
// Boot-environment entries: the default title is this text followed by the
// section name with the file prefix replaced.
constexpr const wchar_t* kCfgPeTitlePrefix = L"维护环境 ";
constexpr const wchar_t* kCfgPeTitlePrefixReplacement = L"Win";
// Linked files.
constexpr const wchar_t* kCfgLinkedTypeText = L"extra";
constexpr const wchar_t* kCfgLinkedTitle = L"驱动与工具包";
constexpr const wchar_t* kCfgLinkedFileSuffix = L".zip";
constexpr const wchar_t* kCfgFileTokens = L"all";  // tokens of linked and single files (no mask is derived)
// The three single files.
constexpr const wchar_t* kCfgExtra1Section = L"extra1";
constexpr const wchar_t* kCfgExtra1TypeText = L"extra";
constexpr const wchar_t* kCfgExtra1Title = L"附加文件一";
constexpr const wchar_t* kCfgExtra1FileDefault = L"kvtextra1.zip";
constexpr const wchar_t* kCfgToolSection = L"tool";
constexpr const wchar_t* kCfgToolTypeText = L"tool";
constexpr const wchar_t* kCfgToolTitle = L"工具文件";
constexpr const wchar_t* kCfgToolFileSuffix = L".bin";
constexpr const wchar_t* kCfgExtra2Section = L"extra2";
constexpr const wchar_t* kCfgExtra2TypeText = L"extra";
constexpr const wchar_t* kCfgExtra2Title = L"附加文件二";
constexpr const wchar_t* kCfgExtra2FileDefault = L"kvtextra2.zip";
// General and version sections.
constexpr const wchar_t* kCfgGeneralSection = L"general";
constexpr const wchar_t* kCfgHeaderLinkKey = L"headerlink";
constexpr const wchar_t* kCfgWebLinkKey = L"weblink";
constexpr const wchar_t* kCfgStallKey = L"stall";
constexpr int kCfgStallDefault = 20;
constexpr const wchar_t* kCfgPickerSwitchKey = L"pickerlist";
constexpr const wchar_t* kCfgPickerSwitchDefault = L"";
constexpr const wchar_t* kCfgPickerSwitchPattern = L"([a-z]{2})([0-9]{2})";
constexpr const wchar_t* kCfgUsbSwitchKey = L"usblist";
constexpr const wchar_t* kCfgUsbSwitchDefault = L"";
constexpr const wchar_t* kCfgUsbSwitchPattern = L"([a-z]{2})\\s*([0-9]{2})";
constexpr const wchar_t* kCfgVersionSection = L"version";
constexpr const wchar_t* kCfgUpdateTargetKey = L"updater";
constexpr const wchar_t* kCfgUpdateTargetDefault = L"";
constexpr const wchar_t* kCfgForcedVersionKey = L"force";
constexpr const wchar_t* kCfgForcedVersionDefault = L"";
constexpr const wchar_t* kCfgNoticeVersionKey = L"notice";
constexpr const wchar_t* kCfgNoticeVersionDefault = L"";

// Recommendation tables. Each row is a text (a system-type token for a
// category, a section name for an entry) and a display group.
struct RecommendRow {
    const wchar_t* text;
    int group;
};
struct RecommendTable {
    const RecommendRow* categories;
    int categoryCount;
    const RecommendRow* list1;
    int list1Count;
    const RecommendRow* list2;
    int list2Count;
    const wchar_t* hint;
};
// Table A: the system disk is not MBR (a UEFI machine).
constexpr RecommendRow kRecommendCategoriesA[] = {{L"win1064", 1}, {L"win864", 0}, {L"win764", 0},
                                                  {L"win1032", 2}, {L"win732", 2}, {L"xp", 2}};
constexpr RecommendRow kRecommendList1A[] = {{L"rec_win10x64", 1}, {L"rec_win11x64", 0}, {L"rec_win81x64", 0},
                                             {L"rec_win7x64", 2},  {L"rec_win10x86", 2}, {L"rec_win7x86", 2},
                                             {L"rec_xp", 2}};
constexpr RecommendRow kRecommendList2A[] = {{L"rec_lite_x64", 1}, {L"rec_pure_x64", 0}};
// Table B: MBR, more than 3000 MiB, a system of one of the three kinds below.
constexpr RecommendRow kRecommendCategoriesB[] = {{L"win1064", 1}, {L"win764", 0}, {L"win864", 0}, {L"win1032", 0},
                                                  {L"win732", 0},  {L"win832", 0}, {L"xp", 2}};
constexpr RecommendRow kRecommendList1B[] = {{L"rec_win10x64", 1}, {L"rec_win11x64", 0}, {L"rec_win81x64", 0},
                                             {L"rec_win7x64", 0},  {L"rec_win10x86", 0}, {L"rec_win7x86", 0},
                                             {L"rec_xp", 2}};
constexpr RecommendRow kRecommendList2B[] = {{L"rec_lite_x64", 1}, {L"rec_pure_x64", 0}};
// Table C: MBR, 3000 MiB or less.
constexpr RecommendRow kRecommendCategoriesC[] = {{L"win732", 1}, {L"win1032", 0}, {L"xp", 0},     {L"win832", 0},
                                                  {L"win764", 0}, {L"win1064", 0}, {L"win864", 0}};
constexpr RecommendRow kRecommendList1C[] = {{L"rec_win7x86", 1},  {L"rec_win10x86", 0}, {L"rec_xp", 0},
                                             {L"rec_win81x86", 0}, {L"rec_win7x64", 0},  {L"rec_win10x64", 0},
                                             {L"rec_win81x64", 0}};
constexpr RecommendRow kRecommendList2C[] = {{L"rec_lite_x86", 1}, {L"rec_pure_x86", 0}};
// Table D: MBR, more than 3000 MiB, any other system.
constexpr RecommendRow kRecommendCategoriesD[] = {{L"win1064", 1}, {L"win764", 0}, {L"win864", 0}, {L"win1032", 0},
                                                  {L"win732", 0},  {L"win832", 0}, {L"xp", 0}};
constexpr RecommendRow kRecommendList1D[] = {{L"rec_win10x64", 1}, {L"rec_win7x64", 0},  {L"rec_win81x64", 0},
                                             {L"rec_win11x64", 0}, {L"rec_win10x86", 0}, {L"rec_win7x86", 0},
                                             {L"rec_win81x86", 0}};
constexpr RecommendRow kRecommendList2D[] = {{L"rec_lite_x64", 1}, {L"rec_pure_x64", 0}};
constexpr RecommendTable kRecommendTables[4] = {
    {kRecommendCategoriesA, 6, kRecommendList1A, 7, kRecommendList2A, 2, L"您的电脑以 UEFI 方式启动，推荐 64 位 Windows 10"},
    {kRecommendCategoriesB, 7, kRecommendList1B, 7, kRecommendList2B, 2, L"推荐 64 位 Windows 10"},
    {kRecommendCategoriesC, 7, kRecommendList1C, 7, kRecommendList2C, 2, L"内存不足 3 GB，推荐 32 位系统"},
    {kRecommendCategoriesD, 7, kRecommendList1D, 7, kRecommendList2D, 2, L"推荐 64 位 Windows 10 或 Windows 7"},
};
// The memory limit of table C, in MiB (at or below it the table is C).
constexpr double kRecommendLowMemoryMiB = 3000.0;
// The system kinds that choose table B. They must be texts that the
// classification of the system volume returns.
constexpr const wchar_t* kRecommendKindTexts[3] = {L"Windows 10", L"Windows 8.1", L"Windows 11"};

// (end of section)

// ---- Disks, data folder, boot setup ----

// (end of section)

// ---- Skinned controls and message box (user-visible texts are Simplified Chinese) ----

// (end of section)

}  // namespace FixedText
