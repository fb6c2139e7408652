// Payload files: the XTEA block decipher against the published vectors and a
// test-side encoder, CResourceDecrypt::Decipher, and the in-memory file
// operations of CResourceFile.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "core/resource_file.h"
#include "core/work_folder.h"
#include "payload_test_support.h"
#include "resources/resource_ids.h"
#include "utils_test_support.h"

namespace {

std::string FromHex(const char* hex) {
    std::string out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) out.push_back((char)strtoul(std::string(hex + i, 2).c_str(), nullptr, 16));
    return out;
}

// The published vectors write the key and the block as big-endian 32-bit
// words; the payloads read little-endian words, so each word's bytes are
// reversed here.
std::string ReverseWords(const std::string& bytes) {
    std::string out = bytes;
    for (size_t at = 0; at + 4 <= out.size(); at += 4) std::swap(out[at], out[at + 3]), std::swap(out[at + 1], out[at + 2]);
    return out;
}

const BYTE* Bytes(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }

}  // namespace

TEST(Xtea, PublishedVectorsDecipher) {
    struct Vector {
        const char *key, *plain, *cipher;
    } vectors[] = {
        {"000102030405060708090a0b0c0d0e0f", "4142434445464748", "497df3d072612cb5"},
        {"000102030405060708090a0b0c0d0e0f", "4141414141414141", "e78f2d13744341d8"},
        {"000102030405060708090a0b0c0d0e0f", "5a5b6e278948d77f", "4141414141414141"},
        {"00000000000000000000000000000000", "4142434445464748", "a0390589f8b8efa5"},
        {"00000000000000000000000000000000", "4141414141414141", "ed23375a821a8c2d"},
        {"00000000000000000000000000000000", "70e1225d6e4e7655", "4141414141414141"},
    };
    for (const Vector& v : vectors) {
        std::string key = ReverseWords(FromHex(v.key));
        std::string cipher = ReverseWords(FromHex(v.cipher));
        uint32_t words[4];
        XteaKeyWords(Bytes(key), words);
        BYTE out[8];
        XteaDecipherBlock(words, Bytes(cipher), out);
        EXPECT_EQ(ReverseWords(FromHex(v.plain)), std::string((const char*)out, 8)) << v.key << " " << v.cipher;
        // The test-side encoder agrees with the vectors too.
        std::string block = ReverseWords(FromHex(v.plain));
        TestXteaEncipher(words, reinterpret_cast<uint8_t*>(&block[0]));
        EXPECT_EQ(cipher, block) << v.key << " " << v.plain;
    }
}

TEST(Xtea, KeyWordsAreLittleEndianAndEveryKeyByteCounts) {
    const BYTE key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    uint32_t words[4];
    XteaKeyWords(key, words);
    EXPECT_EQ(0x04030201u, words[0]);
    EXPECT_EQ(0x100F0E0Du, words[3]);

    const std::string plain = "8 bytes!";
    std::string cipher = TestEncipher(plain, key);
    BYTE out[8];
    XteaDecipherBlock(words, Bytes(cipher), out);
    EXPECT_EQ(plain, std::string((const char*)out, 8));
    for (int i = 0; i < 16; ++i) {
        BYTE changed[16];
        memcpy(changed, key, 16);
        changed[i] ^= 0x01;
        uint32_t w[4];
        XteaKeyWords(changed, w);
        XteaDecipherBlock(w, Bytes(cipher), out);
        EXPECT_NE(plain, std::string((const char*)out, 8)) << "key byte " << i;
    }
}

TEST(ResourceDecrypt, DeciphersIndependentBlocksOfALongBuffer) {
    const BYTE key[16] = {0x9a, 0x01, 0x77, 0x30, 0xc4, 0x5e, 0x12, 0xee, 0x00, 0xff, 0x42, 0x24, 0x18, 0x81, 0x6b, 0xb6};
    std::string plain;
    for (int i = 0; i < 4096; ++i) plain.push_back((char)(i * 31 + (i >> 7)));
    std::string cipher = TestEncipher(plain, key);
    CResourceDecrypt file;
    file.Attach(MallocCopy(cipher), (int)cipher.size(), 0);
    ASSERT_EQ(1, file.Decipher(file.m_data, file.m_size, key));
    EXPECT_EQ(4096, file.m_size);
    EXPECT_EQ(plain, std::string((const char*)file.m_data, file.m_size));
}

TEST(ResourceDecrypt, ThirteenBytesGiveTwoBlocksAndKeepTheLength) {
    const BYTE key[16] = {7, 7, 7, 7, 1, 2, 3, 4, 0xAA, 0xBB, 0xCC, 0xDD, 0, 0, 0, 1};
    const std::string input("\x13\x8c\x00\xfe thirteen", 13);  // 13 bytes: a full block and five more
    ASSERT_EQ(13u, input.size());
    CResourceDecrypt file;
    file.Attach(MallocCopy(input), 13, 0);
    file.m_position = 5;
    // Deciphers its own buffer, which it replaces.
    ASSERT_EQ(1, file.Decipher(file.m_data, 13, key));
    EXPECT_EQ(13, file.m_size);
    EXPECT_EQ(5, file.m_position);
    // Both blocks were deciphered: the first from 8 input bytes, the second
    // from the last 5 and three zero bytes (its 8 output bytes lie in the
    // buffer, 3 of them beyond m_size).
    std::string first((const char*)file.m_data, 8), second((const char*)file.m_data + 8, 8);
    EXPECT_EQ(input.substr(0, 8), TestEncipher(first, key));
    EXPECT_EQ(input.substr(8) + std::string(3, '\0'), TestEncipher(second, key));
}

TEST(ResourceDecrypt, RefusesMissingPieces) {
    const BYTE key[16] = {};
    BYTE data[8] = {};
    CResourceDecrypt empty;
    EXPECT_EQ(0, empty.Decipher(data, 8, key));  // nothing loaded
    CResourceDecrypt file;
    file.Attach(MallocCopy("12345678"), 8, 0);
    EXPECT_EQ(0, file.Decipher(nullptr, 8, key));
    EXPECT_EQ(0, file.Decipher(data, 8, nullptr));
    EXPECT_EQ(0, file.Decipher(data, 0, key));
    EXPECT_EQ(std::string("12345678"), std::string((const char*)file.m_data, 8));
}

TEST(ResourceFile, ReadSeekDetachAttach) {
    // Each step runs on the same 10-byte payload "0123456789", in order.
    enum Op { kRead, kReadLeft, kSeek, kBegin, kEnd };
    struct Step {
        const char* what;
        Op op;
        int a, b;            // Read: count; Seek: offset, origin
        int result;          // the call's result
        int position;        // m_position afterwards
        const char* copied;  // what Read copied
    } steps[] = {
        {"bytes left at the start", kReadLeft, 0, 0, 10, 0, nullptr},
        {"read 4 from 0", kRead, 4, 0, 4, 4, "0123"},
        {"bytes left do not move", kReadLeft, 0, 0, 6, 4, nullptr},
        {"seek from the current place", kSeek, 3, 1, 7, 7, nullptr},
        {"read past the end is cut", kRead, 8, 0, 3, 10, "789"},
        {"read at the end", kRead, 4, 0, 0, 10, ""},
        {"seek back from the current place", kSeek, -6, 1, 4, 4, nullptr},
        {"seek (5, 2) goes to the end whatever the offset", kSeek, 5, 2, 10, 10, nullptr},
        {"seek to m_size + 1 is refused", kSeek, 11, 0, -1, 10, nullptr},
        {"seek to 2", kSeek, 2, 0, 2, 2, nullptr},
        {"seek below 0 is refused", kSeek, -3, 1, -1, 2, nullptr},
        {"another origin counts as 0", kSeek, 6, 7, 6, 6, nullptr},
        {"seek to the end", kEnd, 0, 0, 10, 10, nullptr},
        {"seek to the beginning", kBegin, 0, 0, 0, 0, nullptr},
    };
    CResourceFile file;
    file.Attach(MallocCopy("0123456789"), 10, 0);
    for (const Step& s : steps) {
        char buffer[16] = {};
        int result = 0;
        switch (s.op) {
        case kRead: result = file.Read(buffer, s.a); break;
        case kReadLeft: result = file.Read(nullptr, 0); break;
        case kSeek: result = file.Seek(s.a, s.b); break;
        case kBegin: result = file.SeekToBegin(); break;
        case kEnd: result = file.SeekToEnd(); break;
        }
        EXPECT_EQ(s.result, result) << s.what;
        EXPECT_EQ(s.position, file.m_position) << s.what;
        if (s.copied) EXPECT_EQ(std::string(s.copied), std::string(buffer, result > 0 ? result : 0)) << s.what;
    }

    // CopyOut: a copy ending in two zero bytes.
    BYTE* copy = file.CopyOut();
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0, memcmp(copy, "0123456789\0\0", 12));
    free(copy);

    // Detach: the object stays loaded but no longer frees the buffer.
    BYTE* buffer = file.m_data;
    EXPECT_EQ(buffer, file.Detach());
    EXPECT_EQ(1, file.m_loaded);
    EXPECT_EQ(1, file.m_notOwned);
    file.Close();
    EXPECT_EQ(0, file.m_loaded);
    EXPECT_EQ(nullptr, file.m_data);
    EXPECT_EQ(0, memcmp(buffer, "0123456789", 10)) << "closing freed a detached buffer";

    {
        // A borrowed buffer survives the object; attach keeps the position.
        CResourceFile borrowed;
        borrowed.m_position = 3;
        borrowed.Attach(buffer, 10, 1);
        EXPECT_EQ(1, borrowed.m_loaded);
        EXPECT_EQ(3, borrowed.m_position);
        borrowed.Attach(nullptr, 5, 0);  // ignored
        borrowed.Attach(buffer, 0, 0);   // ignored
        EXPECT_EQ(10, borrowed.m_size);
    }
    EXPECT_EQ(0, memcmp(buffer, "0123456789", 10));
    free(buffer);

    CResourceFile empty;
    EXPECT_EQ(0, empty.Read(nullptr, 0));
    EXPECT_EQ(-1, empty.Seek(0, 0));
    EXPECT_EQ(nullptr, empty.Detach());
    EXPECT_EQ(nullptr, empty.CopyOut());
}

TEST(ResourceFile, LoadFromResourceOfTheProgram) {
    ProgramModule program;
    ASSERT_NE(nullptr, program.Get());
    CResourceFile file;
    ASSERT_EQ(1, file.LoadFromResource(program.Get(), IDR_PAYLOAD_SKIN, FixedText::kPayloadResourceType));
    EXPECT_GT(file.m_size, 0);
    EXPECT_EQ(0, file.m_size % 8) << "payloads are stored in whole blocks";
    // 16 zero bytes follow the payload.
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, file.m_data[file.m_size + i]);

    // A missing id fails and leaves the object closed, though it held a buffer.
    EXPECT_EQ(0, file.LoadFromResource(program.Get(), 999, FixedText::kPayloadResourceType));
    EXPECT_EQ(0, file.m_loaded);
    EXPECT_EQ(nullptr, file.m_data);
    EXPECT_EQ(0, file.LoadFromResource(program.Get(), 0, FixedText::kPayloadResourceType));
    EXPECT_EQ(0, file.LoadFromResource(program.Get(), IDR_PAYLOAD_SKIN, nullptr));
}

// The build enciphers the payloads with a host tool; the program's decipher
// with the MD5 of the same key text must give back the plain archives
// byte for byte.
TEST(ResourceDecrypt, ProgramPayloadsDecipherToTheBuildsArchives) {
    ProgramModule program;
    ASSERT_NE(nullptr, program.Get());
    struct Case {
        UINT id;
        const wchar_t* keyText;
        const wchar_t* plain;
    } cases[] = {
        {IDR_PAYLOAD_SKIN, FixedText::kSkinKeyText, L"program-skin.zip"},
        {IDR_PAYLOAD_TOOLS, FixedText::kPayloadKeyText, L"program-tools.7z"},
        {IDR_PAYLOAD_LIBRARY, FixedText::kPayloadKeyText, L"7z.dll"},
    };
    for (const Case& c : cases) {
        std::string expected = ReadBytes(PayloadFixture(c.plain));
        ASSERT_FALSE(expected.empty()) << Narrow(c.plain);
        BYTE key[16];
        DerivePayloadKey(c.keyText, key);
        CResourceDecrypt file;
        ASSERT_EQ(1, file.LoadAndDecipher(program.Get(), c.id, FixedText::kPayloadResourceType, key)) << c.id;
        ASSERT_GE((size_t)file.m_size, expected.size());
        EXPECT_LT((size_t)file.m_size - expected.size(), 8u) << "only the padding of the last block may follow";
        EXPECT_TRUE(std::string((const char*)file.m_data, expected.size()) == expected) << c.id;
        for (int i = (int)expected.size(); i < file.m_size; ++i) EXPECT_EQ(0, file.m_data[i]) << c.id;

        // Through the loader, into a plain file object.
        CResourceFile target;
        ASSERT_EQ(1, LoadPayload(target, c.id, c.keyText, program.Get()));
        EXPECT_EQ(file.m_size, target.m_size);
        EXPECT_EQ(0, target.m_notOwned);
        EXPECT_EQ(0, memcmp(target.m_data, file.m_data, file.m_size));
    }
}
