#include "core/down_wrapper.h"

#include <shlwapi.h>
#include <string.h>

#include <mutex>

#include "core/dll_search.h"
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"

void InitDownloadTaskParams(DownloadTaskParams& params) {
    memset(&params, 0, sizeof(params));
    params.reserved0 = 0;
    params.option1 = 0;
    params.option2 = 0;
    params.option3 = 5;
    params.option4 = 0;
    params.option5 = 1;
}

bool CopyBoundedText(wchar_t* field, size_t capacity, const wchar_t* src) {
    size_t n = src ? wcslen(src) : 0;
    if (n >= capacity) {
        field[0] = 0;
        return false;
    }
    memcpy(field, src ? src : L"", n * sizeof(wchar_t));
    field[n] = 0;
    return true;
}

bool SetDownloadTaskTexts(DownloadTaskParams& params, const wchar_t* url, const wchar_t* fileName,
                          const wchar_t* saveFolder) {
    if (CopyBoundedText(params.sourceUrl, kTaskUrlChars, url) &&
        CopyBoundedText(params.fileName, kTaskFileNameChars, fileName) &&
        CopyBoundedText(params.saveFolder, kTaskFolderChars, saveFolder))
        return true;
    params.sourceUrl[0] = params.fileName[0] = params.saveFolder[0] = 0;
    return false;
}

namespace {
template <class Fn>
void Bind(HMODULE module, int place, Fn& entry) {
    entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, FixedText::kEngineExportNames[place - 1])));
}
}  // namespace

DownWrapper::DownWrapper(const wchar_t* libraryPath)
    : m_module(nullptr), Initialize(nullptr), Uninitialize(nullptr), CreateTask(nullptr), DeleteTask(nullptr),
      StartTask(nullptr), Entry6(nullptr), StopTask(nullptr), Entry8(nullptr), QueryTask(nullptr),
      Entry10(nullptr), Entry11(nullptr), Entry12(nullptr), Entry13(nullptr), Entry14(nullptr), Entry15(nullptr),
      Entry16(nullptr), Entry17(nullptr), Entry18(nullptr) {
    // The engine's own imports (libcurl's and OpenSSL's system DLLs) come
    // from its folder and the system folder, never from beside the program.
    m_module = LoadLibraryFromItsFolder(libraryPath);
    if (!m_module) return;
    Bind(m_module, 1, Initialize);
    Bind(m_module, 2, Uninitialize);
    Bind(m_module, 3, CreateTask);
    Bind(m_module, 4, DeleteTask);
    Bind(m_module, 5, StartTask);
    Bind(m_module, 6, Entry6);
    Bind(m_module, 7, StopTask);
    Bind(m_module, 8, Entry8);
    Bind(m_module, 9, QueryTask);
    Bind(m_module, 10, Entry10);
    Bind(m_module, 11, Entry11);
    Bind(m_module, 12, Entry12);
    Bind(m_module, 13, Entry13);
    Bind(m_module, 14, Entry14);
    Bind(m_module, 15, Entry15);
    Bind(m_module, 16, Entry16);
    Bind(m_module, 17, Entry17);
    Bind(m_module, 18, Entry18);
}

DownWrapper::~DownWrapper() {
    if (m_module) FreeLibrary(m_module);
}

int CTarvelApp::EnsureDownloadEngine() {
    // The three queue builders may get here at the same moment.
    static std::mutex s_bindLock;
    std::lock_guard<std::mutex> guard(s_bindLock);
    if (m_downloadEngine) return 1;
    // Only from a work folder this process created, and only what its
    // unpack thread extracted there: without either, the file at the name
    // is nobody's of ours. The unpack thread may still be extracting.
    if (!m_workFolderCreated) return 0;
    if (!WaitForTools(FixedText::kEngineToolsWaitMs)) return 0;
    // Only by its full path in the work folder: a bare name would be looked
    // for beside the program first.
    if (m_workFolder.IsEmpty() || PathIsRelativeW(m_workFolder)) return 0;
    wchar_t path[MAX_PATH] = {};
    PathCombineW(path, m_workFolder, FixedText::kEngineLibraryName);
    OutputDebugStringW(path);

    DownWrapper* engine = new DownWrapper(path);
    if (engine->m_module && engine->Initialize && engine->Initialize()) {
        m_downloadEngine = engine;
        return 1;
    }
    delete engine;  // unloads the library when it was loaded
    m_downloadEngine = nullptr;
    return 0;
}
