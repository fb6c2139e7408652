// Partition type names, checked against texts written out by hand.
#include "core/fixed_texts.h"
#include "disk_test_support.h"

namespace {

TEST(PartitionTypes, GuidTextIsTheRegistryForm) {
    EXPECT_STREQ(GuidToText(kEfiTypeGuid), L"{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}");
    const GUID small = {0x1, 0x2, 0x3, {0, 1, 2, 3, 4, 5, 6, 0xAB}};
    EXPECT_STREQ(GuidToText(small), L"{00000001-0002-0003-0001-0203040506AB}");
    GUID other = small;
    other.Data4[5] = 0xF5;
    EXPECT_STREQ(GuidToText(other), L"{00000001-0002-0003-0001-020304F506AB}");
}

TEST(PartitionTypes, GptNamesFromTheTable) {
    EXPECT_STREQ(GptTypeName(GuidToText(kEfiTypeGuid)), FixedText::kEfiTypeName);
    EXPECT_STREQ(GptTypeName(GuidToText(kMsrTypeGuid)), FixedText::kMsrTypeName);
    EXPECT_STREQ(GptTypeName(L"{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}"), L"基本数据分区");
    EXPECT_STREQ(GptTypeName(L"{0FC63DAF-8483-4772-8E79-3D69D8477DE4}"), L"Linux文件系统");
    // Outside the table, or in another letter case: the text itself.
    EXPECT_STREQ(GptTypeName(L"{12345678-0000-0000-0000-000000000000}"), L"{12345678-0000-0000-0000-000000000000}");
    EXPECT_STREQ(GptTypeName(L"{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}"), L"{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}");
    EXPECT_STREQ(GptTypeName(L""), L"");
}

TEST(PartitionTypes, EfiPrefixIsTheFirstSixCharactersOfTheEfiName) {
    EXPECT_EQ(wcslen(FixedText::kEfiTypePrefix), 6u);
    EXPECT_EQ(wcsncmp(FixedText::kEfiTypeName, FixedText::kEfiTypePrefix, 6), 0);
    // No other GPT name of the table starts with it.
    EXPECT_NE(wcsncmp(FixedText::kMsrTypeName, FixedText::kEfiTypePrefix, 6), 0);
}

TEST(PartitionTypes, MbrNamesAndTheOtherTypeFormat) {
    struct Case {
        BYTE code;
        const wchar_t* name;
    } cases[] = {
        {0x07, L"NTFS/exFAT"}, {0x05, L"扩展分区"}, {0x0F, L"扩展分区 (LBA)"}, {0x0C, L"FAT32 (LBA)"},
        {0x42, L"动态磁盘"},   {0x1D, L"隐藏FAT16 (LBA)"},
        {0x00, L"其他类型 (0x00)"}, {0x83, L"其他类型 (0x83)"}, {0xEE, L"其他类型 (0xEE)"},
    };
    for (const Case& c : cases) EXPECT_STREQ(MbrTypeName(c.code), c.name) << (int)c.code;
    // All sixteen codes have their own name.
    const BYTE named[] = {0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0x0F, 0x15, 0x16, 0x17, 0x1B, 0x1C, 0x1D, 0x1F, 0x42};
    for (BYTE code : named) EXPECT_EQ(-1, MbrTypeName(code).Find(L"0x")) << (int)code;
    for (BYTE code : named) EXPECT_STRNE(MbrTypeName(code).Left(4), L"其他类型") << (int)code;
}

}  // namespace
