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

// The resource type of the three payloads.
constexpr const wchar_t* kPayloadResourceType = L"BINARY";
// Placed between the program folder and the name of a work folder made there
// when the temporary folder cannot hold one.
constexpr const wchar_t* kWorkFolderFallbackSeparator = L"\\";
// File name of the 7-Zip library written into the work folder (begins with a
// separator).
constexpr const wchar_t* kSevenZipLibraryFileName = L"\\7z.dll";
// The name rewrites of the skin pictures: callers may name a picture with
// a backslash between folders; the entries of the skin archive use "/".
constexpr const wchar_t* kSkinImageNameFrom = L"\\";
constexpr const wchar_t* kSkinImageNameTo = L"/";
constexpr const wchar_t* kSkinDataNameFrom = L"\\";
constexpr const wchar_t* kSkinDataNameTo = L"/";

// (end of section)

// ---- Download engine, share links, catalogue records, TEA ciphers, built-in lists ----

// (end of section)

// ---- Online configuration and system facts ----

// (end of section)

// ---- Disks, data folder, boot setup ----

// Partition-style texts of a disk layout.
constexpr const wchar_t* kStyleMbr = L"MBR";
constexpr const wchar_t* kStyleGpt = L"GPT";
constexpr const wchar_t* kStyleRaw = L"RAW";
// A partition without a drive letter, and one without a temporary letter.
constexpr const wchar_t* kNoLetter = L"无盘符";
constexpr const wchar_t* kNoMapping = L"未映射";
// Volume facts not (yet) read.
constexpr const wchar_t* kDefaultFileSystem = L"未知";
constexpr const wchar_t* kDefaultVolumeLabel = L"无卷标";
constexpr const wchar_t* kDefaultSystemKind = L"未检测";
// MBR boot indicator.
constexpr const wchar_t* kActivePartition = L"活动";
constexpr const wchar_t* kInactivePartition = L"非活动";
// GPT attributes (low half, high half), MBR recognized byte, MBR hidden sectors.
constexpr const wchar_t* kAttributesFormat = L"属性 0x%08X 0x%08X";
constexpr const wchar_t* kRecognizedFormat = L"已识别 %u";
constexpr const wchar_t* kHiddenSectorsFormat = L"隐藏扇区 %u";
// Drive text -> volume device path; drive text -> root folder.
constexpr const wchar_t* kVolumeDevicePrefix = L"\\\\.\\";
constexpr const wchar_t* kRootSuffix = L"\\";
// Descriptor without vendor or product text.
constexpr const wchar_t* kDefaultVendor = L"";
constexpr const wchar_t* kDefaultProduct = L"通用磁盘";

// The installed system of a volume, from the product version of this file.
constexpr const wchar_t* kSystemProbePath = L"\\Windows\\System32\\ntoskrnl.exe";
constexpr const wchar_t* kNoSystem = L"无系统";
constexpr const wchar_t* kSystemUnknownVersion = L"未知版本";
constexpr const wchar_t* kOtherSystem = L"其他系统";
constexpr const wchar_t* kSystemWin2000 = L"Windows 2000";
constexpr const wchar_t* kSystemWinXp = L"Windows XP";
constexpr const wchar_t* kSystemWin2003 = L"Windows Server 2003";
constexpr const wchar_t* kSystemVista = L"Windows Vista";
constexpr const wchar_t* kSystemWin7 = L"Windows 7";
constexpr const wchar_t* kSystemWin8 = L"Windows 8";
constexpr const wchar_t* kSystemWin81 = L"Windows 8.1";
constexpr const wchar_t* kSystemWin10 = L"Windows 10";
// The 64-bit boot files are copied onto GPT boot partitions of this system.
constexpr const wchar_t* kBootFiles64SystemText = kSystemWin7;

// GUID form shared by GuidToText and the GPT type table.
constexpr const wchar_t* kGuidFormat = L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}";
// GPT type names the boot setup and the temporary letters look for.
constexpr const wchar_t* kEfiTypeName = L"EFI系统分区";
constexpr const wchar_t* kEfiTypePrefix = L"EFI系统分";  // first six characters of kEfiTypeName
constexpr const wchar_t* kMsrTypeName = L"Microsoft保留分区";
// Never given a temporary letter.
constexpr const wchar_t* kExcludedTypeName = kMsrTypeName;
// An MBR type byte outside the table.
constexpr const wchar_t* kOtherMbrTypeFormat = L"其他类型 (0x%02X)";

// Temporary drive letters.
constexpr const wchar_t* kNoFreeLetter = L"无可用盘符";
constexpr const wchar_t* kKeyRejected = L"分区键无效";
constexpr const wchar_t* kKeyWithoutColon = L"分区键缺少冒号";
constexpr const wchar_t* kDefineLetterFailed = L"定义盘符失败";
constexpr const wchar_t* kNoVolumeBehindLetter = L"盘符下没有卷";
constexpr const wchar_t* kNumberedVolumePrefix = L"\\Device\\HarddiskVolume";
constexpr const wchar_t* kPartitionPathFormat = L"\\Device\\Harddisk%s\\Partition%s";
constexpr const wchar_t* kMappingReportFormat = L"分区 %s 的临时盘符：%s";

// Data folder choice.
constexpr const wchar_t* kRequiredFileSystem = L"NTFS";
constexpr const wchar_t* kNoStorageFolder = L"<无数据文件夹>";

// Boot setup: placeholders of the target globals and the staging folder.
constexpr const wchar_t* kTargetDrivePlaceholder = L"";
constexpr const wchar_t* kTargetDirPlaceholder = L"";
constexpr const wchar_t* kTargetFilePlaceholder = L"";
constexpr const wchar_t* kStagingFolderName = L"KavettaBoot";
constexpr const wchar_t* kStagingFolder = L"\\KavettaBoot\\";  // between the system drive and the file name

// Boot files prepared on a boot partition of the system's disk: the
// legacy loader beside the store, its INI, and the menu it reads.
constexpr const wchar_t* kBootPartitionLoaderCheck = L"\\bootmgr";          // file 1
constexpr const wchar_t* kBootPartitionLoader = L"\\kvtldr";                // files 2, 4
constexpr const wchar_t* kBootPartitionStore = L"\\Boot\\BCD";              // files 3, 6
constexpr const wchar_t* kBootPartitionIni = L"\\kvtldr.ini";               // files 5, 9, 10
constexpr const wchar_t* kBootPartitionStoreCopy = L"\\Boot\\BCD.kvtorig";  // files 7, 8
constexpr const wchar_t* kBootPartitionMenu = L"\\kvtmenu.lst";             // files 11, 13
constexpr const wchar_t* kBootPartitionMbrImage = L"\\Boot\\kvtldr.mbr";    // file 12
constexpr const wchar_t* kWorkLoaderFile = L"kvtldr";        // work-folder file A
constexpr const wchar_t* kWorkMenuFile = L"kvtmenu.lst";     // work-folder file B
constexpr const wchar_t* kWorkMbrImageFile = L"kvtldr.mbr";  // work-folder file C
constexpr const wchar_t* kBootIniSection1 = L"kavetta";
constexpr const wchar_t* kBootIniSection2 = L"entry";
constexpr const wchar_t* kBootIniKey1 = L"mode";
constexpr const wchar_t* kBootIniKey2 = L"bootfile";
constexpr const wchar_t* kBootIniKey3 = L"tag";
constexpr const wchar_t* kBootIniValue1 = L"ramdisk";

// Boot-entry command sequences: the tool, the work-folder files they copy,
// the stores, identifiers and the pieces of every command. Path values are
// quoted as whole arguments inside these texts.
constexpr const wchar_t* kBootEntryTool = L"kvtbcd.exe";
constexpr const wchar_t* kRamdiskFile = L"kvtboot.sdi";       // W1, copied beside the target
constexpr const wchar_t* kRamdiskFileExtra = L"kvtboot2.sdi";  // W2, copied into the staging folder
constexpr const wchar_t* kBoot64WorkFiles[3] = {L"kvtbootx64.efi", L"kvtbootmgfw.efi", L"kvtwinload.efi"};
constexpr const wchar_t* kBoot64PartitionPaths[3] = {L"\\EFI\\Boot\\bootx64.efi",
                                                     L"\\EFI\\Microsoft\\Boot\\kvtbootmgfw.efi",
                                                     L"\\EFI\\Microsoft\\Boot\\kvtwinload.efi"};
constexpr const wchar_t* kGptStorePath = L"\\EFI\\Microsoft\\Boot\\BCD";
constexpr const wchar_t* kMbrStorePath = L"\\Boot\\BCD";
constexpr const wchar_t* kBootEntryId = L"{5189B2D4-7C3A-4E61-9B0F-2A8D6C1E4F37}";       // E
constexpr const wchar_t* kBootOptionsId = L"{5189B2D4-7C3A-4E61-9B0F-2A8D6C1E4F38}";     // O
constexpr const wchar_t* kExtraBootEntryId = L"{5189B2D4-7C3A-4E61-9B0F-2A8D6C1E4F39}";  // E2
constexpr const wchar_t* kExtraBootOptionsId = L"{5189B2D4-7C3A-4E61-9B0F-2A8D6C1E4F3A}"; // O2
constexpr const wchar_t* kExtraTagSuffix = L"-2";
constexpr const wchar_t* kStoreBackupTimeFormat = L".%02u%02u%02u%02u";  // month, day, hour, minute
constexpr const wchar_t* kStoreBackupSuffix = L".kvtbak";
// lead + store path + middle; the device and path values around the tag.
constexpr const wchar_t* kBcdLead = L"/store \"";
constexpr const wchar_t* kDeviceValueHead = L" /d \"";
constexpr const wchar_t* kDeviceValueTail = L"\" /device";
constexpr const wchar_t* kPathValueHead = L" /d \"";
constexpr const wchar_t* kPathValueTail = L"\" /application osloader";
// Every command after lead + store path: its middle text and tail, where %E
// and %O are the entry and options identifiers, %V the device value, %P the
// path value, %D the drive, %R the folder, %F the file, %S the ramdisk file
// and %T the file tag. The extra sequence runs the same commands without the
// one that carries the file tag.
constexpr const wchar_t* kGptBootCommands[16] = {
    L"\" /delete %E",
    L"\" /delete %O",
    L"\" /create %O%V",
    L"\" /set %O ramdisksdidevice partition=%D",
    L"\" /set %O ramdisksdipath \"\\%R\\%S\"",
    L"\" /create %E%P",
    L"\" /set %E device ramdisk=\"[%D]\\%R\\%F\",%O",
    L"\" /set %E path \\windows\\system32\\boot\\winload.efi",
    L"\" /set %E osdevice ramdisk=\"[%D]\\%R\\%F\",%O",
    L"\" /set %E systemroot \\windows",
    L"\" /set %E detecthal yes",
    L"\" /set %E winpe yes",
    L"\" /set %E nx OptIn",
    L"\" /displayorder %E /addlast",
    L"\" /set {bootmgr} description %T",
    L"\" /bootsequence %E",
};
constexpr const wchar_t* kMbrBootCommands[15] = {
    L"\" /delete %E",
    L"\" /delete %O",
    L"\" /create %O%V",
    L"\" /set %O ramdisksdidevice partition=%D",
    L"\" /set %O ramdisksdipath \"\\%R\\%S\"",
    L"\" /create %E%P",
    L"\" /set %E device ramdisk=\"[%D]\\%R\\%F\",%O",
    L"\" /set %E osdevice ramdisk=\"[%D]\\%R\\%F\",%O",
    L"\" /set %E path \\windows\\system32\\boot\\winload.exe",
    L"\" /set %E systemroot \\windows",
    L"\" /set %E detecthal yes",
    L"\" /set %E winpe yes",
    L"\" /displayorder %E /addlast",
    L"\" /set {bootmgr} description %T",
    L"\" /bootsequence %E",
};
// The boot-entry tool: the system's own editor, and why it cannot run.
constexpr const wchar_t* kSystemBootEditor = L"bcdedit.exe";
constexpr const wchar_t* kSysnativeFolder = L"Sysnative";
constexpr const wchar_t* kBootEditorMissing = L"找不到系统的启动配置编辑器：%s\n";
constexpr const wchar_t* kBootEditorStartFailed = L"无法启动系统的启动配置编辑器：%s（%s）\n";

// How long the boot setup waits for the unpack thread to finish (ms).
constexpr unsigned long kBootToolsWaitMs = 60000;

// (end of section)

// ---- Skinned controls and message box (user-visible texts are Simplified Chinese) ----

// Face names: Microsoft YaHei ships with every Windows since Vista.
constexpr const wchar_t* kMsgBoxFontFace = L"微软雅黑";
constexpr const wchar_t* kMsgBoxButtonFontFace = L"微软雅黑";
constexpr const wchar_t* kListFontFace = L"微软雅黑";

// Message box titles, one per icon kind, and their pictures.
constexpr const wchar_t* kMsgBoxTitleWarning = L"警告";
constexpr const wchar_t* kMsgBoxTitleError = L"错误";
constexpr const wchar_t* kMsgBoxTitleQuestion = L"询问";
constexpr const wchar_t* kMsgBoxTitleInformation = L"提示";
constexpr const wchar_t* kSkinMsgBoxWarning = L"kvs_msg_warning.png";
constexpr const wchar_t* kSkinMsgBoxError = L"kvs_msg_error.png";
constexpr const wchar_t* kSkinMsgBoxQuestion = L"kvs_msg_question.png";
constexpr const wchar_t* kSkinMsgBoxInformation = L"kvs_msg_info.png";
// Button captions.
constexpr const wchar_t* kMsgBoxYes = L"是";
constexpr const wchar_t* kMsgBoxNo = L"否";
constexpr const wchar_t* kMsgBoxOk = L"确定";
// Appended to the first button's caption while the box counts down (%d: seconds left).
constexpr const wchar_t* kMsgBoxCountdownSuffix = L"(%d)";
// Drawn before the title in the caption band.
constexpr const wchar_t* kMsgBoxTitleIndent = L"  ";
// Separates the lines of a message (one character).
constexpr const wchar_t* kMsgBoxLineSeparator = L"\n";
// A message equal to this text is not drawn.
constexpr const wchar_t* kMsgBoxNoMessage = L"";

// Hyperlink: open mode 0 hands the URL to this program; other modes open it
// with the verb; when that fails, the registered command of the web-page file
// type runs with the URL (the placeholders mark where the command's own
// argument starts).
constexpr const wchar_t* kLinkBrowserProgram = L"explorer.exe";
constexpr const wchar_t* kLinkOpenVerb = L"open";
constexpr const wchar_t* kLinkWebPageClassKey = L".htm";
constexpr const wchar_t* kLinkOpenCommandSubKey = L"\\shell\\open\\command";
constexpr const wchar_t* kLinkPlaceholderQuoted = L"\"%1\"";
constexpr const wchar_t* kLinkPlaceholder = L"%1";
constexpr const wchar_t* kLinkArgumentSeparator = L" ";

// Progress bar text (%d: the percentage).
constexpr const wchar_t* kProgressPercentFormat = L"%d%%";

// Catalogue list rows: the detail line is prefix + first detail + separator + second detail.
constexpr const wchar_t* kListDetailPrefix = L"版本：";
constexpr const wchar_t* kListDetailSeparator = L"    大小：";
// A category's or entry's upper-cased system token containing one of these
// shows that family's logo (tested in this order), else the default logo.
constexpr const wchar_t* kListFamilyText1 = L"WIN10";
constexpr const wchar_t* kListFamilyText2 = L"WIN8";
constexpr const wchar_t* kListFamilyText3 = L"WIN7";
// List pictures.
constexpr const wchar_t* kSkinListLogoDefault = L"kvs_list_logo_default.png";
constexpr const wchar_t* kSkinListLogoFamily1 = L"kvs_list_logo_win10.png";
constexpr const wchar_t* kSkinListLogoFamily2 = L"kvs_list_logo_win8.png";
constexpr const wchar_t* kSkinListLogoFamily3 = L"kvs_list_logo_win7.png";
constexpr const wchar_t* kSkinListGroup1Badge = L"kvs_list_badge_group1.png";
constexpr const wchar_t* kSkinListGroup2Marker = L"kvs_list_marker_group2.png";
constexpr const wchar_t* kSkinListCollapsed = L"kvs_list_marker_collapsed.png";
constexpr const wchar_t* kSkinListExpanded = L"kvs_list_marker_expanded.png";
constexpr const wchar_t* kSkinListHover = L"kvs_list_marker_hover.png";
constexpr const wchar_t* kSkinListSelected = L"kvs_list_marker_selected.png";
constexpr const wchar_t* kSkinUsbListUnchosen = L"kvs_usblist_mark_unchosen.png";
constexpr const wchar_t* kSkinUsbListChosen = L"kvs_usblist_mark_chosen.png";

// (end of section)

}  // namespace FixedText
