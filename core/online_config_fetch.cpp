// Fetching the online configuration from the mirror list.
#include <process.h>
#include <shlwapi.h>

#include <memory>
#include <mutex>
#include <new>
#include <regex>
#include <string>
#include <vector>

#include "core/fixed_texts.h"
#include "core/online_config.h"
#include "core/rc4_hex.h"
#include "core/tarvel_app.h"
#include "winlib/internet.h"

namespace {

// One request, fetched on a worker of its own. The caller waits for it up to
// the deadline and then leaves; the worker keeps what it shares with the
// caller alive until it ends (a shared_ptr each).
//
// Each receive time-out starts again with every byte, so a peer that
// trickles its header a byte at a time, or stalls the TLS hand-shake,
// would hold InternetOpenUrl for ever, and while that call runs no request
// handle exists to close. At the deadline the caller closes the session
// instead: WinINet aborts a call that blocks on a handle when another thread
// closes that handle, and closing the session closes every handle below it.
// The caller does not wait for that abort: it has its answer at the deadline
// either way, and the worker writes nothing once the caller has left.
struct FetchJob {
    CString url;
    DWORD maxBytes = 0;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Set by the caller at the deadline, under `lock`: the worker then
    // touches nothing of the caller's any more.
    bool abandoned = false;
    // The open session while the worker has one, under `lock`.
    CInternetSession* session = nullptr;
    std::mutex lock;
    // The worker's answer, complete when `done` is set.
    int result = kDownloadInternetError;
    DWORD status = 0;
    std::vector<char> body;

    ~FetchJob() {
        if (done) CloseHandle(done);
    }
    bool Abandoned() {
        std::lock_guard<std::mutex> guard(lock);
        return abandoned;
    }
};

// Lets the caller reach the worker's session while it is open.
class SessionShared {
public:
    SessionShared(FetchJob& job, CInternetSession& session) : m_job(job) {
        std::lock_guard<std::mutex> guard(m_job.lock);
        m_job.session = &session;
    }
    ~SessionShared() {
        std::lock_guard<std::mutex> guard(m_job.lock);
        m_job.session = nullptr;
    }
    SessionShared(const SessionShared&) = delete;
    SessionShared& operator=(const SessionShared&) = delete;

private:
    FetchJob& m_job;
};

// The worker's fetch: the status, and for a 200 the body up to the cap.
int FetchInto(FetchJob& job) {
    // The objects own their handles, so an exception anywhere below still
    // closes the request and the session.
    try {
        CInternetSession session(FixedText::kConfigAgentName, 1, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        SessionShared shared(job, session);
        if (job.Abandoned()) return kDownloadTimedOut;
        session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, FixedText::kConfigTimeoutMs);
        session.SetOption(INTERNET_OPTION_SEND_TIMEOUT, FixedText::kConfigTimeoutMs);
        session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, FixedText::kConfigTimeoutMs);
        // Always from the server, never from the cache.
        std::unique_ptr<CHttpFile> file(static_cast<CHttpFile*>(
            session.OpenURL(job.url, 1, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII, nullptr, 0)));
        file->QueryInfoStatusCode(job.status);
        if (job.status == 200) {
            // The bytes available now size the buffer; a tiny or huge first
            // answer must not make the buffer useless or enormous.
            ULONGLONG available = file->GetLength();
            UINT chunk = available < 4096 ? 4096u : available > (1u << 20) ? (1u << 20) : (UINT)available;
            std::vector<char> buffer(chunk + 1);
            for (;;) {
                if (job.Abandoned()) return kDownloadTimedOut;
                // Only the bytes there now are asked for, so a read never
                // waits for a whole buffer from a server that trickles.
                ULONGLONG ready = file->GetLength();
                UINT n = file->Read(buffer.data(), ready > 0 && ready < chunk ? (UINT)ready : chunk);
                if (n == 0) break;
                if (n > job.maxBytes - job.body.size()) {
                    // Not a configuration: no more than the cap is ever kept.
                    file->Abort();
                    return kDownloadTooLarge;
                }
                job.body.insert(job.body.end(), buffer.data(), buffer.data() + n);
            }
        }
        file->Close();
        return kDownloadDone;
    } catch (CException* e) {
        e->Delete();
        return kDownloadInternetError;
    } catch (const std::bad_alloc&) {
        return kDownloadFileError;
    }
}

unsigned __stdcall FetchWorker(void* param) {
    std::unique_ptr<std::shared_ptr<FetchJob>> held(static_cast<std::shared_ptr<FetchJob>*>(param));
    std::shared_ptr<FetchJob> job = *held;
    job->result = FetchInto(*job);
    SetEvent(job->done);
    return 0;
}

}  // namespace

int DownloadUrlToFile(const CString& url, const CString& path, DWORD* statusCode, DWORD maxBytes,
                      DWORD deadlineMs) {
    const ULONGLONG started = GetTickCount64();
    if (statusCode) *statusCode = 0;
    if (url.IsEmpty()) return kDownloadNoUrl;
    if (path.IsEmpty()) return kDownloadNoPath;
    INTERNET_SCHEME scheme = InternetUrlScheme(url);
    if (scheme != INTERNET_SCHEME_HTTP && scheme != INTERNET_SCHEME_HTTPS) return kDownloadBadScheme;

    std::shared_ptr<FetchJob> job;
    try {
        job = std::make_shared<FetchJob>();
        job->url = url;
        job->maxBytes = maxBytes;
    } catch (const std::bad_alloc&) {
        return kDownloadFileError;
    }
    if (!job->done) return kDownloadInternetError;
    std::shared_ptr<FetchJob>* handOver = new (std::nothrow) std::shared_ptr<FetchJob>(job);
    HANDLE worker = handOver ? reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, FetchWorker, handOver, 0, nullptr))
                             : nullptr;
    if (!worker) {
        delete handOver;
        return kDownloadInternetError;
    }
    CloseHandle(worker);  // it ends by itself; the job tells its end
    const ULONGLONG spent = GetTickCount64() - started;
    const DWORD left = spent >= deadlineMs ? 0 : (DWORD)(deadlineMs - spent);
    if (WaitForSingleObject(job->done, left) != WAIT_OBJECT_0) {
        std::lock_guard<std::mutex> guard(job->lock);
        job->abandoned = true;
        if (job->session) job->session->Close();
        return kDownloadTimedOut;
    }
    if (statusCode) *statusCode = job->status;
    if (job->result != kDownloadDone || job->status != 200) return job->result;
    // The whole body is in: only now is the file written.
    try {
        CFile out(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
        if (!job->body.empty()) out.Write(job->body.data(), (UINT)job->body.size());
        out.Close();
    } catch (CException* e) {
        e->Delete();
        return kDownloadFileError;
    }
    return kDownloadDone;
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
