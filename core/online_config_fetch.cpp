// Fetching the online configuration from the mirror list.
#include <shlwapi.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "core/online_config.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "winlib/internet.h"

int DownloadUrlToFile(const CString& url, const CString& path, DWORD* statusCode, DWORD maxBytes,
                      DWORD deadlineMs) {
    const ULONGLONG started = GetTickCount64();
    if (statusCode) *statusCode = 0;
    if (url.IsEmpty()) return kDownloadNoUrl;
    if (path.IsEmpty()) return kDownloadNoPath;
    INTERNET_SCHEME scheme = InternetUrlScheme(url);
    if (scheme != INTERNET_SCHEME_HTTP && scheme != INTERNET_SCHEME_HTTPS) return kDownloadBadScheme;

    // The objects own their handles and buffer, so an exception anywhere
    // below still closes the request, the session and the output file.
    try {
        CInternetSession session(FixedText::kConfigAgentName, 1, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, FixedText::kConfigTimeoutMs);
        session.SetOption(INTERNET_OPTION_SEND_TIMEOUT, FixedText::kConfigTimeoutMs);
        session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, FixedText::kConfigTimeoutMs);
        // Always from the server, never from the cache.
        std::unique_ptr<CHttpFile> file(static_cast<CHttpFile*>(
            session.OpenURL(url, 1, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII, nullptr, 0)));
        DWORD status = 0;
        file->QueryInfoStatusCode(status);
        if (statusCode) *statusCode = status;
        if (status == 200) {
            // The bytes available now size the buffer; a tiny or huge first
            // answer must not make the buffer useless or enormous.
            ULONGLONG available = file->GetLength();
            UINT chunk = available < 4096 ? 4096u : available > (1u << 20) ? (1u << 20) : (UINT)available;
            std::vector<char> buffer(chunk + 1);
            CFile out(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
            DWORD written = 0;
            for (;;) {
                // Each read waits at most what is left of the deadline: only
                // the bytes there now are asked for, so a read never waits
                // for a whole buffer from a server that trickles.
                const ULONGLONG elapsed = GetTickCount64() - started;
                if (elapsed >= deadlineMs) {
                    out.Close();
                    file->Abort();
                    session.Close();
                    return kDownloadTimedOut;
                }
                DWORD wait = (DWORD)(deadlineMs - elapsed);
                if (wait > FixedText::kConfigTimeoutMs) wait = FixedText::kConfigTimeoutMs;
                InternetSetOptionW(*file, INTERNET_OPTION_RECEIVE_TIMEOUT, &wait, sizeof wait);
                ULONGLONG ready = file->GetLength();
                UINT n = file->Read(buffer.data(), ready > 0 && ready < chunk ? (UINT)ready : chunk);
                if (n == 0 && GetTickCount64() - started >= deadlineMs) continue;  // ended by the deadline
                if (n == 0) break;
                if (n > maxBytes - written) {
                    // Not a configuration: what is on disk stays within the cap.
                    out.Close();
                    file->Abort();
                    session.Close();
                    return kDownloadTooLarge;
                }
                out.Write(buffer.data(), n);
                written += n;
            }
            out.Close();
        }
        file->Close();
        session.Close();
        return kDownloadDone;
    } catch (CInternetException* e) {
        e->Delete();
        // A read that waited out the last of the deadline ends here.
        return GetTickCount64() - started >= deadlineMs ? kDownloadTimedOut : kDownloadInternetError;
    } catch (CFileException* e) {
        e->Delete();
        return kDownloadFileError;
    } catch (CException* e) {
        e->Delete();
        return kDownloadInternetError;
    } catch (const std::bad_alloc&) {
        return kDownloadFileError;
    }
}

BOOL ReadFirstSignificantLine(const CString& path, const CString& skipText, CString& line) {
    line.Empty();
    CStdioFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeText)) return FALSE;
    CString read;
    while (file.ReadString(read)) {
        if (read == skipText) continue;
        line = read;
        break;
    }
    file.Abort();
    return TRUE;
}

int ClassifyConfigLine(const CString& line, const CString& plainMarker, const CString& encipheredMarker) {
    // The plain form is tested first: a line that holds both is plain.
    if (!plainMarker.IsEmpty() && line.Find(plainMarker) >= 0) return kConfigPlain;
    if (!encipheredMarker.IsEmpty() && line.Find(encipheredMarker) >= 0) return kConfigEnciphered;
    return kConfigRejected;
}

int FetchConfigFromMirrors(const CStringArray& mirrors, const CString& workFolder, const CString& prefix,
                           const CString& plainMarker, const CString& encipheredMarker, const ConfigParser& parse,
                           DWORD deadlineMs) {
    int loaded = 0;
    const ULONGLONG started = GetTickCount64();
    // Only in a folder named by its full path: given an empty or relative
    // one, GetTempFileNameW would make the file where that leads (the
    // current folder, a drive's root).
    if (workFolder.IsEmpty() || PathIsRelativeW(workFolder)) return 0;
    wchar_t tempPath[MAX_PATH + 1] = {};
    if (GetTempFileNameW(workFolder, prefix, 0, tempPath) != 0) {
        for (INT_PTR i = 0; i < mirrors.GetSize(); ++i) {
            // Only this mirror's whole answer counts: an error status leaves
            // whatever an earlier mirror (refused, cut or too large) wrote.
            DWORD status = 0;
            const ULONGLONG elapsed = GetTickCount64() - started;
            if (elapsed >= deadlineMs) break;  // the system check waits no longer
            if (DownloadUrlToFile(mirrors[i], tempPath, &status, kConfigMaxBytes, (DWORD)(deadlineMs - elapsed)) !=
                    kDownloadDone ||
                status != 200)
                continue;
            CString line;
            if (!ReadFirstSignificantLine(tempPath, FixedText::kConfigSkipText, line)) continue;
            int form = ClassifyConfigLine(line, plainMarker, encipheredMarker);
            if (form == kConfigRejected) continue;
            loaded = parse(tempPath, form == kConfigEnciphered ? TRUE : FALSE);
            break;
        }
    }
    if (tempPath[0]) DeleteFileW(tempPath);
    return loaded;
}

bool ParseListSwitch(const CString& text, const wchar_t* pattern, ListSwitch& out) {
    CString trimmed = text;
    trimmed.Trim();
    trimmed.MakeLower();
    auto narrow = [](const wchar_t* s) {
        int n = WideCharToMultiByte(CP_THREAD_ACP, 0, s, -1, nullptr, 0, nullptr, nullptr);
        std::string bytes(n > 0 ? n : 1, '\0');
        if (n > 0) WideCharToMultiByte(CP_THREAD_ACP, 0, s, -1, &bytes[0], n, nullptr, nullptr);
        bytes.resize(strlen(bytes.c_str()));
        return bytes;
    };
    std::string subject = narrow(trimmed);
    std::smatch match;
    try {
        std::regex expression(narrow(pattern), std::regex::ECMAScript);
        if (!std::regex_search(subject, match, expression)) return false;
    } catch (const std::regex_error&) {
        return false;
    }
    if (match.size() < 3) return false;
    std::string order = match[1].str(), visibility = match[2].str();
    if (order.size() < 2 || visibility.size() < 2) return false;
    char l0 = order[0], l1 = order[1], d0 = visibility[0], d1 = visibility[1];
    if (l0 == l1) return false;
    if (d0 == '0' && d1 == '0') return false;
    if (l0 == 'm') {
        out.order = 0;
        out.showMain = d0 != '0';
        out.showRecommended = d1 != '0';
    } else {
        out.order = 1;
        out.showMain = d1 != '0';
        out.showRecommended = d0 != '0';
    }
    return true;
}

int CTarvelApp::FetchOnlineConfig() {
    m_configLoaded = 0;
    // The configuration passes only through the work folder this process made.
    if (!m_workFolderCreated) return m_configLoaded;
    CString encipheredMarker = EncryptToHex(m_configMarker, m_iniPassword);
    m_configLoaded = FetchConfigFromMirrors(m_mirrorUrls, m_workFolder, m_filePrefix, m_configMarker, encipheredMarker,
                                            [this](const CString& path, BOOL enciphered) {
                                                return ParseOnlineConfig(path, enciphered);
                                            });
    return m_configLoaded;
}
