// The download engine: one thread per running task, libcurl's easy
// interface for the transfer, a per-task lock around what the query reads.
#include <winsock2.h>

#include "engine/engine.h"

#include <curl/curl.h>
#include <ctype.h>
#include <openssl/crypto.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

const wchar_t kPartialSuffix[] = L".kvtpart";
const char kUserAgent[] = "KavettaEngine/1.0";
// Large reads keep the per-call overhead low on fast local links; libcurl
// takes up to 10 MiB. Measured beside smaller sizes with
// tests/engine/bench/bench.sh, it was the fastest; each running task holds
// one such block while it transfers (the pages run one task at a time).
const long kReceiveBuffer = 10 * 1024 * 1024;
const long kConnectTimeoutSeconds = 30;
// The connect and header phase of an attempt (name, connection, TLS
// hand-shake, request, every header up to the final answer's end) ends by
// this, however slowly a peer trickles it; the body has no deadline here:
// its stalls are the caller's to judge. A test build sets a short one.
#ifdef KVT_ENGINE_TEST_HEADER_DEADLINE_MS
const DWORD kHeaderDeadlineMs = KVT_ENGINE_TEST_HEADER_DEADLINE_MS;
#else
const DWORD kHeaderDeadlineMs = 60000;
#endif
const long kMaxRedirects = 10;
// A test build of the engine sets a small cap, so that a test can reach it.
#ifdef KVT_ENGINE_TEST_LENGTH_CAP
const LONGLONG kUnknownLengthCap = KVT_ENGINE_TEST_LENGTH_CAP;
#else
const LONGLONG kUnknownLengthCap = kEngineUnknownLengthCap;
#endif
static_assert(kEngineCodeUnframedReply == kEngineCodeTransferBase + CURLE_WEIRD_SERVER_REPLY, "code");
static_assert(kEngineCodeTooLong == kEngineCodeTransferBase + CURLE_FILESIZE_EXCEEDED, "code");
static_assert(kEngineCodeNoSpace == kEngineCodeTransferBase + CURLE_WRITE_ERROR, "code");

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

// Length of a NUL-terminated text inside a field of `capacity` units; -1 when
// the field holds no terminator.
int BoundedLength(const wchar_t* field, size_t capacity) {
    for (size_t i = 0; i < capacity; ++i)
        if (field[i] == 0) return (int)i;
    return -1;
}

struct Task {
    int id = 0;
    std::wstring url;
    std::wstring fileName;
    std::wstring folder;

    std::mutex lock;  // guards everything below except `stop`
    int status = kTaskWaiting;
    int code = 0;
    LONGLONG total = 0;
    LONGLONG done = 0;
    int speed = 0;
    DWORD lastByteTick = 0;
    DWORD windowTick = 0;
    LONGLONG windowDone = 0;
    bool running = false;
    std::thread worker;

    volatile LONG stop = 0;  // set by StopTask, read by the transfer callbacks

    std::wstring FinalPath() const { return JoinPath(fileName); }
    std::wstring PartialPath() const { return JoinPath(fileName + kPartialSuffix); }
    std::wstring JoinPath(const std::wstring& name) const {
        if (folder.empty()) return name;
        wchar_t last = folder[folder.size() - 1];
        return (last == L'\\' || last == L'/') ? folder + name : folder + L"\\" + name;
    }
};

std::mutex g_tableLock;
std::map<int, std::shared_ptr<Task>> g_tasks;
int g_nextId = 1;
bool g_initialised = false;

std::shared_ptr<Task> FindTask(int id) {
    std::lock_guard<std::mutex> guard(g_tableLock);
    if (!g_initialised) return nullptr;
    auto it = g_tasks.find(id);
    return it == g_tasks.end() ? nullptr : it->second;
}

// One transfer attempt of a task: the open partial file and what the
// callbacks learn about the response.
struct Transfer {
    Task* task;
    HANDLE file;
    LONGLONG offset;          // bytes of the partial file when the request was made
    bool firstBody = true;
    bool restartFromZero = false;  // the server's range answer cannot be appended
    bool localFailure = false;
    LONGLONG rangeStart = -1; // start of the final response's Content-Range
    // The framing of the latest response: HTTP/1.x needs a length or chunks
    // to tell the body's end from a cut connection.
    bool http1 = true;
    bool chunked = false;
    bool unframed = false;     // refused: its end could not be told
    bool lengthKnown = false;
    LONGLONG bodyBytes = 0;    // written in this attempt
    bool tooLong = false;      // passed the cap without a known length
    bool noSpace = false;      // announced more than the volume can hold
    // The connect and header phase: when it began, the latest response's
    // status and whether it names a place to go on to, and whether the
    // final answer's headers have all arrived.
    DWORD startTick = GetTickCount();
    long responseCode = 0;
    bool redirects = false;
    bool headersDone = false;
    bool headerTimedOut = false;  // the phase passed kHeaderDeadlineMs
};

// Whether `bytes` more fit on the volume of `folder`, beside `reclaimed`
// bytes that are freed before they are written. A volume whose free space
// cannot be read is not judged here: a write that fails tells then.
bool FitsOnVolume(const std::wstring& folder, LONGLONG bytes, LONGLONG reclaimed) {
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return true;
    return (ULONGLONG)bytes <= available.QuadPart + (ULONGLONG)reclaimed;
}

bool Framed(const Transfer& x, curl_off_t length) { return length >= 0 || x.chunked || !x.http1; }

void UpdateSpeed(Task& t, DWORD now) {
    DWORD elapsed = now - t.windowTick;
    if (elapsed >= 1000) {
        t.speed = (int)((t.done - t.windowDone) * 1000 / elapsed);
        t.windowTick = now;
        t.windowDone = t.done;
    }
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Transfer* x = static_cast<Transfer*>(user);
    size_t n = size * count;
    std::string line(data, n);
    if (line.compare(0, 5, "HTTP/") == 0) {
        x->rangeStart = -1;  // a new response (after a redirect or a 100)
        x->http1 = line.compare(0, 7, "HTTP/1.") == 0 || line.compare(0, 7, "HTTP/0.") == 0;
        x->chunked = false;
        const size_t space = line.find(' ');
        x->responseCode = space == std::string::npos ? 0 : strtol(line.c_str() + space + 1, nullptr, 10);
        x->redirects = false;
    } else if (line == "\r\n" || line == "\n") {
        // The end of a response's headers: the final answer's ends the
        // header phase; an interim one (1xx) or a redirect libcurl follows
        // leads to another.
        const long code = x->responseCode;
        if (code >= 200 && !(code >= 300 && code < 400 && x->redirects)) x->headersDone = true;
    } else if (line.size() > 9 && _strnicmp(line.c_str(), "Location:", 9) == 0) {
        x->redirects = true;
    } else if (line.size() > 18 && _strnicmp(line.c_str(), "Transfer-Encoding:", 18) == 0) {
        std::string codings = line.substr(18);
        for (char& c : codings) c = (char)tolower((unsigned char)c);
        if (codings.find("chunked") != std::string::npos) x->chunked = true;
    } else if (line.size() > 14 && _strnicmp(line.c_str(), "Content-Range:", 14) == 0) {
        // "Content-Range: bytes 123-456/789"
        const char* p = line.c_str() + 14;
        while (*p == ' ' || *p == '\t') ++p;
        if (_strnicmp(p, "bytes", 5) == 0) {
            p += 5;
            while (*p == ' ') ++p;
            x->rangeStart = _strtoi64(p, nullptr, 10);
        }
    }
    return n;
}

// The first body bytes decide whether they continue the partial file.
bool PrepareFirstWrite(Transfer* x, CURL* curl) {
    x->firstBody = false;
    curl_off_t length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (!Framed(*x, length)) {
        // Before anything is written: the partial file stays as it was.
        x->unframed = true;
        return false;
    }
    x->lengthKnown = length >= 0;
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    if (x->offset > 0 && response == 206 && x->rangeStart != x->offset) {
        x->restartFromZero = true;
        return false;
    }
    // A peer's length is checked against what the volume can hold before
    // anything is written: a mirror that announces more would fill it. A
    // range answer adds the rest to the partial file; any other answer
    // replaces it, whose bytes are freed first.
    const bool appends = x->offset > 0 && response == 206;
    if (length >= 0 && !FitsOnVolume(x->task->folder, length, appends ? 0 : x->offset)) {
        x->noSpace = true;
        return false;
    }
    if (x->offset > 0 && !appends) {
        // The server ignored the range: the body is the whole file.
        LARGE_INTEGER zero = {};
        if (!SetFilePointerEx(x->file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(x->file)) {
            x->localFailure = true;
            return false;
        }
        x->offset = 0;
    }
    Task& t = *x->task;
    std::lock_guard<std::mutex> guard(t.lock);
    t.total = length >= 0 ? x->offset + length : 0;
    t.done = x->offset;
    t.windowDone = t.done;
    t.windowTick = t.lastByteTick = GetTickCount();
    t.status = kTaskTransferring;
    return true;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer* x = static_cast<Transfer*>(user);
    Task& t = *x->task;
    if (t.stop) return 0;
    size_t n = size * count;
    if (!x->lengthKnown && x->offset + x->bodyBytes + (LONGLONG)n > kUnknownLengthCap) {
        x->tooLong = true;
        return 0;
    }
    // Written at once: a writer thread of its own measured slower under Wine
    // than these large synchronous writes.
    DWORD written = 0;
    if (n > 0 && (!WriteFile(x->file, data, (DWORD)n, &written, nullptr) || written != n)) {
        x->localFailure = true;
        return 0;
    }
    x->bodyBytes += (LONGLONG)n;
    DWORD now = GetTickCount();
    std::lock_guard<std::mutex> guard(t.lock);
    t.done += (LONGLONG)n;
    if (t.total > 0 && t.done > t.total) t.total = t.done;
    t.lastByteTick = now;
    UpdateSpeed(t, now);
    return n;
}

struct WriteContext {
    Transfer* transfer;
    CURL* curl;
};

size_t OnBodyFirst(char* data, size_t size, size_t count, void* user) {
    WriteContext* w = static_cast<WriteContext*>(user);
    if (w->transfer->task->stop) return 0;
    if (w->transfer->firstBody && !PrepareFirstWrite(w->transfer, w->curl)) return 0;
    return OnBody(data, size, count, w->transfer);
}

// Called by libcurl about once a second at the least, also while it
// connects or waits for a header.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    Transfer* x = static_cast<Transfer*>(user);
    Task& t = *x->task;
    if (t.stop) return 1;
    if (!x->headersDone && x->firstBody && GetTickCount() - x->startTick >= kHeaderDeadlineMs) {
        x->headerTimedOut = true;
        return 1;
    }
    std::lock_guard<std::mutex> guard(t.lock);
    UpdateSpeed(t, GetTickCount());
    return 0;
}

// The task's last word on this run: a start after it begins a new run.
void Finish(Task& t, int status, int code) {
    std::lock_guard<std::mutex> guard(t.lock);
    t.running = false;
    t.status = status;
    t.code = code;
    t.speed = 0;
    if (status == kTaskFinished) {
        t.total = t.done;
    }
}

// Runs one transfer attempt; returns true when another attempt from byte 0
// is needed.
bool RunAttempt(Task& t, bool allowResume) {
    const std::wstring partial = t.PartialPath();
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Finish(t, kTaskFailed, kEngineCodeLocalFile);
        return false;
    }
    LARGE_INTEGER end = {};
    LARGE_INTEGER zero = {};
    if (allowResume) {
        SetFilePointerEx(file, zero, &end, FILE_END);
    } else {
        SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }

    Transfer x{&t, file, end.QuadPart};
    CURL* curl = curl_easy_init();
    if (!curl) {
        CloseHandle(file);
        Finish(t, kTaskSourceFailed, kEngineCodeTransferBase + CURLE_OUT_OF_MEMORY);
        return false;
    }
    WriteContext w{&x, curl};
    const std::string url = ToUtf8(t.url);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    // Certificates are checked (libcurl's default) against the Windows store.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, (long)CURLSSLOPT_NATIVE_CA);
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, (long)CURL_SSLVERSION_TLSv1_2);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &x);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBodyFirst);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &w);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &x);
    // A plain range (not libcurl's resume option, which fails on a server that
    // answers 200): the first body bytes tell whether they continue our file.
    const std::string range = std::to_string(x.offset) + "-";
    if (x.offset > 0) curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());

    CURLcode rc = curl_easy_perform(curl);
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    if (rc == CURLE_OK && x.firstBody) {
        // No body arrived: an empty one counts only when its end was framed.
        curl_off_t length = -1;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (!Framed(x, length)) x.unframed = true;
    }
    curl_easy_cleanup(curl);
    LONGLONG fileSize = -1;
    {
        LARGE_INTEGER pos = {};
        if (SetFilePointerEx(file, zero, &pos, FILE_END)) fileSize = pos.QuadPart;
    }
    CloseHandle(file);

    if (x.localFailure) {
        Finish(t, kTaskFailed, kEngineCodeLocalFile);
        return false;
    }
    if (t.stop) {
        Finish(t, kTaskWaiting, 0);  // paused; the partial file stays for the next start
        return false;
    }
    if (x.headerTimedOut) {
        Finish(t, kTaskSourceFailed, kEngineCodeTransferBase + CURLE_OPERATION_TIMEDOUT);
        return false;
    }
    if (x.unframed) {
        Finish(t, kTaskSourceFailed, kEngineCodeUnframedReply);
        return false;
    }
    if (x.noSpace) {
        Finish(t, kTaskSourceFailed, kEngineCodeNoSpace);
        return false;
    }
    if (x.tooLong) {
        // Nothing of it is worth resuming from.
        DeleteFileW(partial.c_str());
        Finish(t, kTaskSourceFailed, kEngineCodeTooLong);
        return false;
    }
    if (x.restartFromZero || (rc == CURLE_HTTP_RETURNED_ERROR && response == 416 && x.offset > 0)) {
        // The server's range answer does not continue our partial file.
        // Nothing left beyond it (416) means it is whole only when it has the
        // size this task learnt earlier; otherwise the file is fetched from
        // its start, once.
        LONGLONG known;
        {
            std::lock_guard<std::mutex> guard(t.lock);
            known = t.total;
        }
        if (x.restartFromZero || known != x.offset) {
            if (allowResume) return true;
            Finish(t, kTaskSourceFailed, kEngineCodeTransferBase + CURLE_RANGE_ERROR);
            return false;
        }
        rc = CURLE_OK;
        std::lock_guard<std::mutex> guard(t.lock);
        t.done = x.offset;
    }
    if (rc == CURLE_OK && x.firstBody && x.offset == 0) {
        // An empty body: the file is complete with zero bytes.
        std::lock_guard<std::mutex> guard(t.lock);
        t.done = 0;
        t.total = 0;
    }
    if (rc != CURLE_OK) {
        Finish(t, kTaskSourceFailed,
               rc == CURLE_HTTP_RETURNED_ERROR && response >= 400 ? (int)response : kEngineCodeTransferBase + rc);
        return false;
    }
    LONGLONG expected;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        expected = t.total;
    }
    if (expected > 0 && fileSize != expected) {
        Finish(t, kTaskSourceFailed, kEngineCodeTransferBase + CURLE_PARTIAL_FILE);
        return false;
    }
    const std::wstring final = t.FinalPath();
    SetFileAttributesW(final.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveFileExW(partial.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        Finish(t, kTaskFailed, kEngineCodeLocalFile);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(t.lock);
        t.done = fileSize > 0 ? fileSize : 0;
    }
    Finish(t, kTaskFinished, 0);
    return false;
}

void RunTask(std::shared_ptr<Task> task) {
    bool resume = true;
    while (RunAttempt(*task, resume)) resume = false;
    std::lock_guard<std::mutex> guard(task->lock);
    task->running = false;
}

// Asks the worker to end and waits for it. The transfer callbacks see the
// flag within about a second, also while connecting or stalled.
void StopAndJoin(Task& t) {
    InterlockedExchange(&t.stop, 1);
    std::thread worker;
    {
        std::lock_guard<std::mutex> guard(t.lock);
        worker = std::move(t.worker);
    }
    if (worker.joinable()) worker.join();
}

}  // namespace

KVT_ENGINE_API int __cdecl KvtInitialize(void) {
    std::lock_guard<std::mutex> guard(g_tableLock);
    if (g_initialised) return 1;
    // OpenSSL would otherwise register its clean-up with the C run-time's
    // process-wide _onexit (MinGW's import, not this DLL's own table): once the
    // program unloads the engine, the exit would call into unloaded code.
    // The first initialisation decides, so this comes before libcurl's.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return 0;
    g_initialised = true;
    return 1;
}

KVT_ENGINE_API void __cdecl KvtUninitialize(void) {
    std::map<int, std::shared_ptr<Task>> tasks;
    {
        std::lock_guard<std::mutex> guard(g_tableLock);
        if (!g_initialised) return;  // a second call does nothing
        g_initialised = false;
        tasks.swap(g_tasks);
    }
    for (auto& entry : tasks) StopAndJoin(*entry.second);
    curl_global_cleanup();
}

KVT_ENGINE_API int __cdecl KvtCreateTask(const DownloadTaskParams* params) {
    if (!params) return 0;
    int urlLength = BoundedLength(params->sourceUrl, kTaskUrlChars);
    int nameLength = BoundedLength(params->fileName, kTaskFileNameChars);
    int folderLength = BoundedLength(params->saveFolder, kTaskFolderChars);
    if (urlLength <= 0 || nameLength <= 0 || folderLength < 0) return 0;
    auto task = std::make_shared<Task>();
    task->url.assign(params->sourceUrl, urlLength);
    task->fileName.assign(params->fileName, nameLength);
    task->folder.assign(params->saveFolder, folderLength);
    std::lock_guard<std::mutex> guard(g_tableLock);
    if (!g_initialised) return 0;
    task->id = g_nextId++;
    if (g_nextId <= 0) g_nextId = 1;
    g_tasks[task->id] = task;
    return task->id;
}

KVT_ENGINE_API void __cdecl KvtDeleteTask(int id) {
    std::shared_ptr<Task> task;
    {
        std::lock_guard<std::mutex> guard(g_tableLock);
        auto it = g_tasks.find(id);
        if (it == g_tasks.end()) return;
        task = it->second;
        g_tasks.erase(it);
    }
    StopAndJoin(*task);
}

KVT_ENGINE_API int __cdecl KvtStartTask(int id) {
    std::shared_ptr<Task> task = FindTask(id);
    if (!task) return 0;
    std::thread previous;
    {
        std::lock_guard<std::mutex> guard(task->lock);
        if (task->running) return 1;
        if (task->status == kTaskFinished) return 1;
        previous = std::move(task->worker);
    }
    if (previous.joinable()) previous.join();
    std::lock_guard<std::mutex> guard(task->lock);
    InterlockedExchange(&task->stop, 0);
    task->status = kTaskWaiting;
    task->code = 0;
    task->speed = 0;
    task->running = true;
    try {
        task->worker = std::thread(RunTask, task);
    } catch (...) {
        task->running = false;
        task->status = kTaskSourceFailed;
        return 0;
    }
    return 1;
}

KVT_ENGINE_API void __cdecl KvtStopTask(int id) {
    std::shared_ptr<Task> task = FindTask(id);
    if (task) StopAndJoin(*task);
}

KVT_ENGINE_API int __cdecl KvtQueryTask(int id, DownloadTaskInfo* info) {
    if (!info) return 0;
    std::shared_ptr<Task> task = FindTask(id);
    if (!task) return 0;
    std::lock_guard<std::mutex> guard(task->lock);
    info->status = task->status;
    info->code = task->code;
    wcsncpy(info->fileName, task->fileName.c_str(), kTaskInfoNameChars - 1);
    info->fileName[kTaskInfoNameChars - 1] = 0;
    info->totalBytes = task->total;
    info->doneBytes = task->done;
    info->fraction = task->total > 0 ? (float)((double)task->done / (double)task->total) : 0.0f;
    if (info->fraction > 1.0f) info->fraction = 1.0f;
    // No byte for two seconds: whatever the last window said, nothing moves now.
    int speed = task->speed;
    DWORD now = GetTickCount();
    DWORD window = now - task->windowTick;
    if (speed == 0 && window >= 200 && task->done > task->windowDone)
        speed = (int)((task->done - task->windowDone) * 1000 / window);  // the first second is not over yet
    if (task->status != kTaskTransferring || now - task->lastByteTick >= 2000) speed = 0;
    info->speed = speed;
    return 1;
}

// The entries that the program never calls.
KVT_ENGINE_API int __cdecl KvtStartAll(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtStopAll(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtQueryTaskEx(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtSetSpeedLimit(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtSetProxy(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtSetUserAgent(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtSetMaxTasks(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtGetVersion(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtDeleteAll(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtSetConnections(void) { return 0; }
KVT_ENGINE_API int __cdecl KvtSetOption(void) { return 0; }
