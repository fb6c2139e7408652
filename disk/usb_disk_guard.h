// The checks that stand between a USB disk and anything that erases it: the
// device number must still name the disk the user confirmed (its interface
// path), that disk must be a USB disk, and the drives of the Windows
// folder, the program and the data folder must each be seen elsewhere (a
// drive that cannot be seen refuses the disk). The writer runs them
// before each tool it starts, and each tool runs them itself again.
#pragma once

#include <vector>

#include "disk/disk_inventory.h"

// Paths whose drives must not be touched (copyable, unlike CStringArray).
typedef std::vector<CString> ProtectedPaths;

enum UsbDiskCheck {
    kUsbDiskAccepted = 0,
    kUsbDiskMissing = 1,    // no disk has this device number
    kUsbDiskNotUsb = 2,     // the disk is not on the USB bus
    kUsbDiskProtected = 3,  // one of its volumes holds a protected path
    kUsbDiskChanged = 4,    // the number now belongs to another disk
    kUsbDiskToolHung = 5,   // a tool on this disk outlived its time limit earlier
    kUsbDiskProtectedUnseen = 6,  // a protected path's drive was not seen on another disk
    kUsbDiskNoIdentity = 7,       // a tool was not told which disk it is to write
};

// Which disk a job writes, as the tools are told: the interface path the
// user confirmed and the serial number the device answers on it (empty
// where it has none). A layout's signature or GUID cannot serve: cleaning
// the disk changes it, and a blank stick has none.
struct UsbDiskIdentity {
    CString interfacePath;
    CString serial;
    bool IsEmpty() const { return interfacePath.IsEmpty(); }
};
// The serial number an open disk answers (STORAGE_DEVICE_DESCRIPTOR), blanks
// trimmed; empty when the device has none or does not answer.
CString ReadDiskSerial(IStorageCalls& storage, HANDLE disk);
// The identity of the disk at an interface path; FALSE when it cannot be opened.
BOOL ReadUsbDiskIdentity(IStorageCalls& storage, const CString& interfacePath, UsbDiskIdentity& identity);
// Whether an open disk (opened by the identity's interface path) still is the
// disk of the identity and has this device number: kUsbDiskAccepted, or
// kUsbDiskChanged when its number or serial number differs.
UsbDiskCheck CheckDiskIdentity(IStorageCalls& storage, HANDLE disk, int deviceNumber, const UsbDiskIdentity& identity);
// The identity in the environment variable every tool started later
// inherits, and read back from it (empty when it is not set).
void PublishDiskIdentity(const UsbDiskIdentity& identity);
void ReadDiskIdentityFromEnvironment(UsbDiskIdentity& identity);

// The disk record of a device number, read through the storage seam; FALSE
// when no disk answers with that number.
BOOL FindDiskByDeviceNumber(IStorageCalls& storage, int deviceNumber, disk_info& disk);
// Where a protected path lies, as far as the disk checks are concerned.
// The drive of each protected path must be seen positively: a fixed or
// removable drive whose volume opens and answers with its device number, or
// a drive that is no disk volume at all (network, optical, RAM; a UNC path).
// A volume that cannot be opened or queried, a letter that is not there and
// a path whose drive cannot be told are unseen, and refuse every disk.
// Gives kUsbDiskAccepted (seen elsewhere), kUsbDiskProtected (on this
// device) or kUsbDiskProtectedUnseen.
UsbDiskCheck CheckProtectedPath(IStorageCalls& storage, int deviceNumber, const CString& path);
// All checks in one. An empty expected path accepts whichever disk has the
// number (the tools, which are given only the number).
UsbDiskCheck CheckUsbDiskForWriting(IStorageCalls& storage, int deviceNumber, const CString& expectedPath,
                                    const ProtectedPaths& protectedPaths);
// The user's text of a refusal.
CString UsbDiskRefusalText(UsbDiskCheck check, int deviceNumber);

// Protected paths: the Windows folder and the running program (found here),
// the data folder (given by the program). The drive of each path is what is
// protected; letters compare without regard to case.
void AddOwnProtectedPaths(ProtectedPaths& paths);
// Joined for the environment variable, and read back from it.
CString JoinProtectedPaths(const ProtectedPaths& paths);
void SplitProtectedPaths(const CString& text, ProtectedPaths& paths);
void ReadProtectedPathsFromEnvironment(ProtectedPaths& paths);
// Sets the variable in this process, so that every tool started later inherits it.
void PublishProtectedPaths(const ProtectedPaths& paths);
// TRUE when the drive text ("E:") is the drive of one of the paths.
BOOL DriveIsProtected(const CString& drive, const ProtectedPaths& paths);

// A tool that outlived its time limit may still be working on the disk: the
// disk (by interface path) gets no other tool for the rest of the process.
void NoteToolHung(const CString& interfacePath);
BOOL ToolHungOn(const CString& interfacePath);
// Forgets every note (tests only).
void ForgetHungTools();
