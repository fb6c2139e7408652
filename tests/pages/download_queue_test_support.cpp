#include "download_queue_test_support.h"

#include "core/md5.h"
#include "winlib/winlib.h"

std::string Md5Upper(const std::string& bytes) {
    Md5Context context;
    context.Init();
    context.Update(bytes.data(), bytes.size());
    context.Final();
    CString text = Md5DigitsText(context.digest);
    text.MakeUpper();
    return std::string(CStringA(text).GetString());
}

void MirrorServer::Handle(const HttpRequest& r, HttpConnection& c) {
    std::string path = r.target;
    size_t slash = path.find('/', 1);
    std::string kind = slash == std::string::npos ? path : path.substr(0, slash);
    std::string name = slash == std::string::npos ? "" : path.substr(slash + 1);
    if (r.method == "POST" && path == "/web/share/downloadfile?from=share") {
        std::string surl = r.body.substr(r.body.find('=') + 1);
        surl = surl.substr(0, surl.find('&'));
        c.Respond(200, "{\"errno\":0,\"data\":{\"downloadurl\":\"" + server.Url("/good/" + surl) + "\"}}");
        return;
    }
    if (kind == "/s") {
        c.Respond(302, "", "Location: /web/lk/" + name + "?from=share\r\n");
        return;
    }
    if (kind == "/web") {
        std::string surl = name.substr(3, name.find('?') - 3);
        c.Respond(200, "<script>var ctx = { surl : '" + surl + "', download_permit_token: 'T1' };\n" +
                           "var info = {\"nid\": \"77\"};</script>");
        return;
    }
    auto file = m_files.find(name);
    if (file == m_files.end()) {
        c.Respond(404, "no such file");
        return;
    }
    const std::string& content = file->second;
    if (kind == "/good") {
        ServeContent(r, c, content, 262144, 0);
    } else if (kind == "/corrupt") {
        std::string bad = content;
        for (size_t i = 0; i < bad.size(); i += 4096) bad[i] = (char)~bad[i];
        ServeContent(r, c, bad, 262144, 0);
    } else if (kind == "/small") {
        ServeContent(r, c, content.substr(0, 1000), 1000, 0);
    } else if (kind == "/slow") {
        ServeContent(r, c, content, 131072, 150);
    } else if (kind == "/stall") {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) +
                           "\r\nConnection: close\r\n\r\n";
        c.Send(head);
        c.Send(content.data(), 65536);
        c.WaitForClose(60000);
    } else {
        c.Respond(404, "no such kind");
    }
}

ScriptedEngine* ScriptedEngine::s_bound = nullptr;

ScriptedEngine::ScriptedEngine() : m_wrapper(new DownWrapper(L"kvt-no-such-engine.dll")) {
    m_wrapper->Initialize = Initialize;
    m_wrapper->Uninitialize = Uninitialize;
    m_wrapper->CreateTask = CreateTask;
    m_wrapper->DeleteTask = DeleteTask;
    m_wrapper->StartTask = StartTask;
    m_wrapper->StopTask = StopTask;
    m_wrapper->QueryTask = QueryTask;
    s_bound = this;
}

ScriptedEngine::~ScriptedEngine() {
    if (s_bound == this) s_bound = nullptr;
}

void ScriptedEngine::AddMirror(const std::wstring& url, const ScriptedMirror& mirror) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_mirrors[url] = mirror;
}

std::vector<ScriptedTask> ScriptedEngine::Tasks() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tasks;
}

int ScriptedEngine::TaskCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return (int)m_tasks.size();
}

int ScriptedEngine::TasksOf(const std::wstring& url) {
    std::lock_guard<std::mutex> guard(m_lock);
    int n = 0;
    for (const ScriptedTask& t : m_tasks) n += t.url == url ? 1 : 0;
    return n;
}

void ScriptedEngine::Finish(int handle) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (ScriptedTask* task = Find(handle)) task->held = false;
}

bool ScriptedEngine::Transferring(const std::wstring& url) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const ScriptedTask& t : m_tasks)
        if (t.url == url && t.held && t.status == kTaskTransferring && !t.deleted) return true;
    return false;
}

ScriptedTask* ScriptedEngine::Find(int handle) {
    for (ScriptedTask& t : m_tasks)
        if (t.handle == handle && !t.deleted) return &t;
    return nullptr;
}

void ScriptedEngine::RunToEnd(ScriptedTask& task, const ScriptedMirror& mirror) {
    const std::wstring path = task.folder + L"\\" + task.fileName;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        task.status = kTaskFailed;
        task.code = 1;
        return;
    }
    DWORD written = 0;
    WriteFile(file, mirror.content.data(), (DWORD)mirror.content.size(), &written, nullptr);
    CloseHandle(file);
    task.total = task.done = (LONGLONG)mirror.content.size();
    task.status = kTaskFinished;
    task.code = 0;
}

int __cdecl ScriptedEngine::Initialize() { return 1; }

void __cdecl ScriptedEngine::Uninitialize() {}

int __cdecl ScriptedEngine::CreateTask(const DownloadTaskParams* params) {
    ScriptedEngine* e = s_bound;
    if (!e || !params) return 0;
    std::lock_guard<std::mutex> guard(e->m_lock);
    ScriptedTask task;
    task.handle = (int)e->m_tasks.size() + 1;
    task.url = params->sourceUrl;
    task.fileName = params->fileName;
    task.folder = params->saveFolder;
    e->m_tasks.push_back(task);
    return task.handle;
}

void __cdecl ScriptedEngine::DeleteTask(int handle) {
    ScriptedEngine* e = s_bound;
    if (!e) return;
    std::lock_guard<std::mutex> guard(e->m_lock);
    if (ScriptedTask* task = e->Find(handle)) task->deleted = true;
}

int __cdecl ScriptedEngine::StartTask(int handle) {
    ScriptedEngine* e = s_bound;
    if (!e) return 0;
    std::lock_guard<std::mutex> guard(e->m_lock);
    ScriptedTask* task = e->Find(handle);
    if (!task) return 0;
    ++task->starts;
    auto it = e->m_mirrors.find(task->url);
    if (it == e->m_mirrors.end()) {
        task->status = kTaskSourceFailed;
        return 1;
    }
    const ScriptedMirror& mirror = it->second;
    if (task->starts > 1 && mirror.restartFails) return 0;
    if (task->starts > 1 && task->status == kTaskFinished) {
        // Started again after it had finished: the engine fetches the file
        // anew and replaces what it wrote.
        e->RunToEnd(*task, mirror);
        return 1;
    }
    if (mirror.failStatus) {
        task->status = mirror.failStatus;
        task->code = mirror.failCode;
    } else if (!mirror.speeds.empty()) {
        task->status = kTaskTransferring;
        task->total = (LONGLONG)mirror.content.size();
    } else if (task->starts == 1 && mirror.holdTransfer) {
        task->held = true;
        task->status = kTaskTransferring;
        task->total = mirror.announcedBytes ? mirror.announcedBytes : (LONGLONG)mirror.content.size();
    } else if (!task->held) {
        e->RunToEnd(*task, mirror);
    } else {
        task->status = kTaskTransferring;
    }
    return 1;
}

void __cdecl ScriptedEngine::StopTask(int handle) {
    ScriptedEngine* e = s_bound;
    if (!e) return;
    std::lock_guard<std::mutex> guard(e->m_lock);
    if (ScriptedTask* task = e->Find(handle)) ++task->stops;
}

int __cdecl ScriptedEngine::QueryTask(int handle, DownloadTaskInfo* info) {
    ScriptedEngine* e = s_bound;
    if (!e || !info) return 0;
    std::lock_guard<std::mutex> guard(e->m_lock);
    ScriptedTask* task = e->Find(handle);
    if (!task) return 0;
    ++task->queries;
    int speed = 65536;
    auto it = e->m_mirrors.find(task->url);
    if (it != e->m_mirrors.end() && task->queries <= it->second.silentQueries) return 1;
    if (it != e->m_mirrors.end() && task->queries <= it->second.silentQueries + it->second.waitingRounds &&
        task->stops < task->starts) {
        // Started, but the engine has not begun the transfer yet.
        info->status = kTaskWaiting;
        info->code = 0;
        info->fileName[0] = 0;
        info->totalBytes = info->doneBytes = 0;
        info->fraction = 0.0f;
        info->speed = 0;
        return 1;
    }
    if (task->status == kTaskTransferring && !task->held && task->stops < task->starts) {
        if (it != e->m_mirrors.end()) {
            const std::vector<int>& speeds = it->second.speeds;
            if (task->speedRounds < speeds.size()) speed = speeds[task->speedRounds++];
            else e->RunToEnd(*task, it->second);
        }
    }
    info->status = task->status;
    info->code = task->code;
    wcsncpy(info->fileName, task->fileName.c_str(), kTaskInfoNameChars - 1);
    info->fileName[kTaskInfoNameChars - 1] = 0;
    info->totalBytes = task->total;
    info->doneBytes = task->status == kTaskTransferring ? task->total / 2 : task->done;
    info->fraction = task->total > 0 ? (float)info->doneBytes / (float)task->total : 0.0f;
    if (task->status == kTaskTransferring && it != e->m_mirrors.end() && it->second.fraction >= 0.0f)
        info->fraction = it->second.fraction;
    info->speed = task->status == kTaskTransferring ? speed : 0;
    return 1;
}
