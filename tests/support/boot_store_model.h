// The boot configuration stores as a list of recorded boot-entry tool runs
// ("program|arguments", as the scripted machines record them) leaves them:
// per store, the entries made and the one-time boot sequence. Enough of the
// tool's commands to tell whether anything of ours is still armed.
#pragma once

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

struct BootStoreModel {
    std::map<std::wstring, std::set<std::wstring>> entries;        // store (upper case) -> identifiers
    std::map<std::wstring, std::vector<std::wstring>> sequences;   // store -> one-time boot sequence

    static std::wstring Upper(std::wstring s) {
        for (wchar_t& c : s) c = (wchar_t)towupper(c);
        return s;
    }

    void Apply(const std::wstring& run) {
        std::wstring args = run.substr(run.find(L'|') + 1);
        const std::wstring lead = L"/store \"";
        if (args.compare(0, lead.size(), lead) != 0) return;
        const size_t close = args.find(L'"', lead.size());
        if (close == std::wstring::npos) return;
        const std::wstring store = Upper(args.substr(lead.size(), close - lead.size()));
        std::wistringstream rest(args.substr(close + 1));
        std::vector<std::wstring> t;
        for (std::wstring word; rest >> word;) t.push_back(word);
        if (t.size() < 2) return;
        std::vector<std::wstring>& sequence = sequences[store];
        auto drop = [&](const std::wstring& id) {
            sequence.erase(std::remove(sequence.begin(), sequence.end(), id), sequence.end());
        };
        if (t[0] == L"/create") entries[store].insert(t[1]);
        if (t[0] == L"/delete") {
            // The tool also takes a deleted entry out of the lists that name it.
            entries[store].erase(t[1]);
            drop(t[1]);
        }
        if (t[0] == L"/bootsequence") {
            if (std::find(t.begin(), t.end(), L"/remove") != t.end()) {
                for (size_t i = 1; i < t.size(); ++i) drop(t[i]);
            } else {
                sequence.assign(t.begin() + 1, t.end());
            }
        }
        if (t[0] == L"/deletevalue" && t.size() >= 3 && Upper(t[1]) == L"{BOOTMGR}" && t[2] == L"bootsequence")
            sequence.clear();
    }

    static BootStoreModel Of(const std::vector<std::wstring>& runs) {
        BootStoreModel model;
        for (const std::wstring& run : runs) model.Apply(run);
        return model;
    }

    // What is still armed: every one-time sequence and every entry made, as text.
    std::wstring Armed() const {
        std::wstring out;
        for (const auto& s : sequences)
            for (const std::wstring& id : s.second) out += s.first + L" bootsequence " + id + L"; ";
        for (const auto& s : entries)
            for (const std::wstring& id : s.second) out += s.first + L" entry " + id + L"; ";
        return out;
    }
};
