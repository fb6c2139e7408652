// The scenario file of the simulated machine, read into plain data.
//
// A scenario is one JSON object (UTF-8). Every key is checked: an unknown
// key or a value of the wrong kind is an error that names where it is.
//
//   "name", "description": texts, for people.
//   "disks": [ {
//       "device": n (device number, unique), "bus": "sata"|"nvme"|"ata"|"scsi"|"sas"|"usb"|"sd"|"virtual",
//       "style": "gpt"|"mbr"|"raw", "removable": bool, "vendor": text, "product": text (the model),
//       "sizeGiB": number,
//       "partitions": [ {
//           "number": n (default: position + 1), "sizeMiB" or "sizeGiB": number,
//           "startMiB": number (default: where the partition before it ends),
//           "appears": {"whenState": token}, "goes": {"whenState": token} (a partition that a
//                         tool makes or removes: it is in the layout, with its volume, only from /
//                         until the state file holds token; two partitions may share a number
//                         when one goes before the other appears),
//           "type": "efi"|"msr"|"basic"|"recovery" (GPT) or an MBR type byte such as "0x07",
//           "active": bool (MBR), "name": text (GPT),
//           "volume": {                     (absent: a partition without a volume)
//               "letter": "D" (absent: no letter, like an EFI partition),
//               "fileSystem": "NTFS", "label": text, "freeGiB"/"freeMiB": number,
//               "driveType": "fixed"|"removable" (default by the disk's "removable"),
//               "systemVersion": "10.0.19041.1" (the volume holds an installed system
//                                               whose kernel file has this product version),
//               "refuseNewFolders": bool (no folder can be made on this drive),
//               "appears": {"afterQueries": n} | {"whenState": token}  (a letter that appears
//                         later: after n drive-letter queries, or once the state file holds token),
//               "goes": {"whenState": token} (the volume and its letter go once the state file
//                         holds token),
//               "encryption": {"conversion": "decrypted"|"encrypted"|"encrypting"|"decrypting"|
//                              "encryptionPaused"|"decryptionPaused" (default "encrypted"),
//                              "protection": "off"|"on"|"suspended"|"unknown" (default "off")}
//                         (BitLocker knows the volume: what GetConversionStatus and
//                          GetProtectionStatus answer; suspended protection reads as off.
//                          Absent: BitLocker knows no such volume, it is not encrypted),
//               "files": [ {"path": "KavettaData\\kvt10pe.wim", "sizeBytes": n, "text": "..."} ]
//                         (made by prepare_scenario.py in the drive's backing folder: drives\<letter>,
//                          or drives\part-<device>-<number> for a volume without a letter, which
//                          the boot host reaches through a temporary letter) } } ] } ],
//   "otherDrives": [ {"letter": "G", "type": "cdrom"|"remote"|"ramdisk"} ],
//   "facts": { "osDescription": text, "chassisText": text,
//              "properties": { "Win32_BaseBoard.Product": text, ... },
//              "memoryGiB"/"memoryMiB"/"memoryBytes": number, "memoryStatusBytes": number (what the
//              memory-status fallback reports; default the same),
//              "encryptionQuery": "answers"|"noProvider"|"fails" (BitLocker's WMI query: answers
//              for the volumes with "encryption", finds no namespace, or fails; default "answers") },
//   "processes": { "defaultExitCode": n,
//                  "answers": [ {"match": text (in "program|arguments", any case),
//                                "exitCode": n, "setState": token} ] },
//   "realHostRule": true|false (default false: stand-in boot files are accepted),
//   "windowsBits": 32|64 (the simulated Windows' word size; the program's 64-bit flag follows it.
//            On 64-bit Windows our 32-bit process finds the running system's kernel file only
//            through Sysnative. Default: that of the Windows the simulated machine runs on),
//   "systemPartition": {"device": n, "partition": n} (the partition the firmware started
//            Windows from, the Setup key's SystemPartition; it needs a volume. Default: the
//            first volume of a non-USB disk on an EFI partition or an active MBR partition),
//   "tools": { "<tool file base name>": {"exitCode": n, "setState": token, "output": text} }
//            (read by the recording tools of the test tools payload)
//
// Our USB disk tools (kvtprep, kvtpart, kvtmbr, kvtdisk) are not answered
// from "processes": the simulated machine runs the simulated build of the
// tool itself, which checks the disk against the scenario and records its
// own runs of diskpart; when it succeeds, the state file gets the token
// "<tool>|<command> <device>", e.g. "kvtpart.exe|/cre:EFI 1" (commands:
// prep, /del, /cre:EFI, /act, /cre:DATA, /partitions, /mbr, /restore), on
// which partitions and volumes appear and go.
//   "server": { "mode": "normal"|"noconfig", "paths": {...}, "shares": {...}
//               (the catalogue server's routes for this scenario, see catalogue_server.py),
//               "mirror": "http://127.0.0.1:PORT/NAME/kavetta.ini" (set by prepare_scenario.py) }
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/system_facts.h"
#include "sim/sim_names.h"
#include "support/fake_machine.h"

struct SimAppearance {
    int afterQueries = 0;     // 0: not by count
    std::wstring stateToken;  // empty: not by state
    bool Later() const { return afterQueries > 0 || !stateToken.empty(); }
};

// What BitLocker says of one volume (known: it has an instance at all).
struct SimEncryption {
    bool known = false;
    int conversion = 1;
    int protection = 0;
};

struct SimProcessAnswer {
    std::wstring match;
    int exitCode = 0;
    std::wstring setState;
};

struct SimScenario {
    std::wstring name;
    std::vector<FakeDisk> disks;
    std::vector<FakeVolume> volumes;
    std::vector<SimAppearance> volumeAppearance;  // one per volume
    std::vector<std::wstring> volumeGoing;        // one per volume: the token it goes on, or empty
    std::vector<SimEncryption> volumeEncryption;  // one per volume
    EncryptionAnswer encryptionQuery = EncryptionAnswer::kRead;
    // Partitions that appear or go on a state token, by disk and partition index.
    struct PartitionLife {
        size_t disk = 0, partition = 0;
        std::wstring appears, goes;
    };
    std::vector<PartitionLife> partitionLives;
    std::map<wchar_t, UINT> otherDrives;
    std::set<wchar_t> refusingLetters;
    std::wstring osDescription;
    std::wstring chassisText;
    std::map<std::wstring, std::wstring> properties;  // "Class.Property" -> value
    ULONGLONG installedMemoryBytes = 0;
    ULONGLONG memoryStatusBytes = 0;
    int defaultExitCode = 0;
    // Whether the tools archive's files must be the real ones, as on a real
    // machine (default: the simulated machine accepts the stand-ins).
    bool realHostRule = false;
    // 32 or 64: the simulated Windows' word size; 0: the running Windows'.
    int windowsBits = 0;
    // The firmware's system partition (-1: none, the value cannot be read).
    int systemDevice = -1, systemPartition = -1;
    std::vector<SimProcessAnswer> processAnswers;
    // The configuration mirror the program uses instead of its built-in one
    // (prepare_scenario.py sets it to the scenario's own address on the
    // local catalogue server); empty: the built-in one.
    std::wstring mirrorUrl;
};

// Reads and checks a scenario file. False with problem set ("<file>: <where>: <what>").
bool ReadSimScenario(const std::wstring& path, SimScenario& out, std::wstring& problem);
// The same from text already read (problem names the place without a file).
bool ParseSimScenario(const std::string& utf8, SimScenario& out, std::wstring& problem);
