// A recording stand-in for an external tool of the tools payload, built once
// per tool name (kavetta-sim.exe's payload carries it in place of the real
// tool). It appends "<tool>|<arguments>" to the tool log beside the scenario
// named by the environment, then answers as the scenario's "tools" entry for
// its own base name says: printed output, a state token for the fake machine
// and the exit code (default 0). It changes nothing on any disk.
#include <windows.h>
#include <json/json.h>
#include <stdio.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "sim/sim_names.h"

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

// The command line after the program's own (possibly quoted) path.
std::wstring ArgumentsOf(const wchar_t* commandLine) {
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

std::wstring OwnBaseName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    size_t cut = name.find_last_of(L"\\/");
    if (cut != std::wstring::npos) name = name.substr(cut + 1);
    size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name = name.substr(0, dot);
    return name;
}

}  // namespace

int wmain() {
    wchar_t scenario[MAX_PATH * 2] = {};
    DWORD n = GetEnvironmentVariableW(kSimScenarioVariable, scenario, MAX_PATH * 2);
    std::string tool = Utf8(OwnBaseName());
    if (n == 0 || n >= MAX_PATH * 2) {
        fprintf(stderr, "%s (recording stand-in): no scenario in the environment\n", tool.c_str());
        return 3;
    }
    std::wstring path = scenario;
    size_t cut = path.find_last_of(L"\\/");
    std::wstring folder = cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
    AppendSimLine(folder + kSimToolLogName, tool + "|" + Utf8(ArgumentsOf(GetCommandLineW())));

    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors, all = text.str();
    if (!reader->parse(all.data(), all.data() + all.size(), &root, &errors)) return 0;
    const Json::Value& answer = root["tools"][tool];
    if (!answer.isObject()) return 0;
    if (answer["output"].isString()) {
        fputs(answer["output"].asCString(), stdout);
        fflush(stdout);
    }
    if (answer["setState"].isString()) AppendSimLine(folder + kSimStateName, answer["setState"].asString());
    return answer["exitCode"].isInt() ? answer["exitCode"].asInt() : 0;
}
