// Catalogue records: system categories, downloadable files and the shared
// link table, and the checks that accept a local or downloaded file by its
// MD5 digest and the verified-record INI.
#pragma once

#include <windows.h>

#include "winlib/winlib.h"

class Md5Hasher;

// One byte of Windows-edition bits; 0x80 is always set.
typedef BYTE SystemTypeMask;
enum : BYTE {
    kSystemMaskBase = 0x80,
    kSystemXp = 0x01,
    kSystemWin8x86 = 0x02,
    kSystemWin10x86 = 0x04,
    kSystemWin7x86 = 0x08,
    kSystemWin8x64 = 0x10,
    kSystemWin7x64 = 0x20,
    kSystemWin10x64 = 0x40,
};
// The bit of a system-type token or its alternative (letter case ignored);
// 0 for an unknown token.
SystemTypeMask SystemTypeBitOf(const wchar_t* token);

// One system category of the catalogue.
class COsCatInfo {
public:
    COsCatInfo();
    COsCatInfo(const CString& token, int group);

    CString m_id;        // the category's system-type token; also its section name
    CString m_caption;
    CString m_text;
    int m_displayGroup;
    SystemTypeMask m_systemMask;
    int m_enabled;
};

// One entry of the shared link table.
class CFileLinkInfo {
public:
    CFileLinkInfo() : m_linkType(0) {}
    CFileLinkInfo(int type, const CString& url) : m_linkType(type), m_url(url) {}

    // The URL to hand to the engine: a share page (type 2) resolved to its
    // direct link, or the stored URL when it is not a share page or cannot be
    // resolved. Type 2 makes synchronous HTTP requests.
    CString GetUrl() const;

    int m_linkType;  // 2: a share page; anything else: a direct URL
    CString m_url;
};

enum { kMaxFileLinks = 10 };

// One downloadable file. Records live in the application's lists (CArray,
// which moves them bitwise); a copy never shares or closes its source's
// file handle.
class COnlinefileinfo {
public:
    COnlinefileinfo();
    COnlinefileinfo(const CString& sectionName, int displayGroup);
    COnlinefileinfo(const COnlinefileinfo& other);
    COnlinefileinfo& operator=(const COnlinefileinfo& other);
    ~COnlinefileinfo();

    // Every field except m_usbOffer back to its default; an open handle is closed.
    void Reset();

    CString m_typeText;
    int m_number;
    CString m_sectionName;
    CString m_title;
    CString m_description;
    CString m_detail2;
    CString m_detail1;
    CString m_fileName;
    CString m_expectedMd5;    // upper-case digest(s); contains the accepted digest
    CString m_knownDigests;   // from the verified records, filled on first need
    CString m_systemTokens;   // "-"-separated
    int m_matchMode;          // 0 any file (by the expected digest when one is given); 1 expected or verified digest; 2 expected digest only
    int m_linkedFileIndex;
    int m_required;
    int m_requiredUsb;
    int m_usbOffer;
    int m_displayGroup;
    SystemTypeMask m_systemMask;
    int m_linkCount;
    int m_linkCursor;
    int m_linkIndices[kMaxFileLinks];
    CString m_localFolder;
    int m_checkState;         // 0 new, 1 no valid copy (or checking), 2 valid local copy, 3 downloaded and accepted
    HANDLE m_fileHandle;      // the accepted file, open for reading; shared with the other records of the same file
    LONGLONG m_fileSize;

private:
    void CopyFrom(const COnlinefileinfo& other);
    void SetDefaults();
    // Lets go of the accepted file (other records of the same file may still hold it).
    void LetGo();
};

// The download-path texts, set by SetDownloadFolders.
extern CString g_DownloadFolder;
extern CString g_SecondaryFolder;
extern CString g_RecordIniName;
extern CString g_RecordIniPath;
extern CString g_RecordSection;
extern CString g_RecordPassword;

// Ors the bits of the record's tokens into its mask (not cleared first).
void ParseSystemTokens(COnlinefileinfo& record);
void SetDownloadFolders(const CString& downloadFolder, const CString& recordIniName, const CString& recordSection,
                        const CString& password, const CString& secondaryFolder);

// The download folder's access list let others in until now (it has just
// got the program's own): its records INI is deleted, and nothing already in
// it counts as verified until the folders are set again.
void DistrustDownloadFolderContents();

// The record's file: in its own folder, else in the download folder, else the bare name.
CString GetLocalPath(const COnlinefileinfo& record);
// Opens the file at GetLocalPath for reading (once) and notes its size.
void OpenLocalFile(COnlinefileinfo& record);
// Looks for a valid copy in the download folder, the record's folder and the
// secondary folder (copying a find into the download folder). A copy in a
// place another account can write counts only by the catalogue's digest. 1: the file
// must be downloaded; 0: a valid copy was accepted. `hasher` is the page's,
// whose counters its progress thread shows.
int CheckLocalCopy(COnlinefileinfo& record, Md5Hasher& hasher);
// Accepts or rejects a finished download at GetLocalPath: 1 accepted (or the
// record was not waiting for one), 0 rejected and the file deleted.
int VerifyDownloadedFile(COnlinefileinfo& record, Md5Hasher& hasher);
// CheckLocalCopy for a boot-environment record, once per record (state 0),
// with a verified record for a copy found outside the download folder. It
// serves the run without any configuration, whose records carry no digest:
// such a record keeps match mode 0's choice (any copy counts, wherever it
// is), as there is nothing to check it by.
void CheckPeFile(COnlinefileinfo& record);
// Whether another accepted record holds the file at the record's path now
// (two records may name one file).
bool HeldByAnotherRecord(const COnlinefileinfo& record);
// Takes the file another accepted record holds at the record's path, when
// the record's own rule accepts it (the holder's digest shared, or taken
// through the shared hold with `hasher`): the record shares the hold and
// counts as downloaded (state 3). 1 accepted; 0 no record holds the file;
// -1 held, but not this record's file (it is never deleted here).
int AdoptHeldFile(COnlinefileinfo& record, Md5Hasher& hasher);
// Whether the data folder's verified records hold the digest (a records INI
// anywhere else, or in a data folder that fails the folder rule, is ignored).
bool MatchesVerifiedRecord(COnlinefileinfo& record, const CString& digest);

// True when the text holds at least one digest of 32 hexadecimal digits: a
// record without one (empty, or a configuration's placeholder) carries no
// expected digest.
bool CarriesExpectedDigest(const CString& expected);
