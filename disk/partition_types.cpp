// Display names of GPT and MBR partition types.
#include "core/fixed_texts.h"
#include "disk/disk_inventory.h"

namespace {

struct GptType {
    const wchar_t* guid;  // in the form GuidToText writes
    const wchar_t* name;
};

const GptType kGptTypes[15] = {
    {L"{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}", FixedText::kEfiTypeName},
    {L"{E3C9E316-0B5C-4DB8-817D-F92DF00215AE}", FixedText::kMsrTypeName},
    {L"{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}", L"基本数据分区"},
    {L"{DE94BBA4-06D1-4D40-A16A-BFD50179D6AC}", L"Windows恢复分区"},
    {L"{5808C8AA-7E8F-42E0-85D2-E1E90434CFB3}", L"LDM元数据分区"},
    {L"{AF9B60A0-1431-4F62-BC68-3311714A69AD}", L"LDM数据分区"},
    {L"{E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D}", L"存储空间分区"},
    {L"{21686148-6449-6E6F-744E-656564454649}", L"BIOS启动分区"},
    {L"{0FC63DAF-8483-4772-8E79-3D69D8477DE4}", L"Linux文件系统"},
    {L"{0657FD6D-A4AB-43C4-84E5-0933C84B4F4F}", L"Linux交换分区"},
    {L"{E6D6D379-F507-44C2-A23C-238F2A3DF928}", L"Linux LVM"},
    {L"{A19D880F-05FC-4D3B-A006-743F0F84911E}", L"Linux RAID"},
    {L"{933AC7E1-2EB4-4F13-B844-0E14E2AEF915}", L"Linux /home分区"},
    {L"{48465300-0000-11AA-AA11-00306543ECAC}", L"Apple HFS+"},
    {L"{7C3457EF-0000-11AA-AA11-00306543ECAC}", L"Apple APFS"},
};

struct MbrType {
    BYTE code;
    const wchar_t* name;
};

const MbrType kMbrTypes[16] = {
    {0x04, L"FAT16 (32MB以下)"}, {0x05, L"扩展分区"},       {0x06, L"FAT16"},
    {0x07, L"NTFS/exFAT"},       {0x0B, L"FAT32"},          {0x0C, L"FAT32 (LBA)"},
    {0x0E, L"FAT16 (LBA)"},      {0x0F, L"扩展分区 (LBA)"}, {0x15, L"隐藏扩展分区"},
    {0x16, L"隐藏FAT16"},        {0x17, L"隐藏NTFS"},       {0x1B, L"隐藏FAT32"},
    {0x1C, L"隐藏FAT32 (LBA)"},  {0x1D, L"隐藏FAT16 (LBA)"}, {0x1F, L"隐藏扩展分区 (LBA)"},
    {0x42, L"动态磁盘"},
};

}  // namespace

CString GuidToText(const GUID& g) {
    CString text;
    text.Format(FixedText::kGuidFormat, (unsigned long)g.Data1, (unsigned)g.Data2, (unsigned)g.Data3,
                (unsigned)g.Data4[0], (unsigned)g.Data4[1], (unsigned)g.Data4[2], (unsigned)g.Data4[3],
                (unsigned)g.Data4[4], (unsigned)g.Data4[5], (unsigned)g.Data4[6], (unsigned)g.Data4[7]);
    return text;
}

CString GptTypeName(const CString& typeGuidText) {
    for (const GptType& type : kGptTypes)
        if (typeGuidText == type.guid) return type.name;
    return typeGuidText;
}

CString MbrTypeName(BYTE code) {
    for (const MbrType& type : kMbrTypes)
        if (type.code == code) return type.name;
    CString text;
    text.Format(FixedText::kOtherMbrTypeFormat, (unsigned)code);
    return text;
}
