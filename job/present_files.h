#pragma once
// Which files of the install folder are there, learnt from one listing of each folder rather
// than from a lookup per file: under Wine the lookup of a missing name reads its whole folder
// (for a name that differs only in case), six times the cost of finding one that is there, and
// most files the commit and the start of a run ask about (asides, the files of a fresh install)
// are missing.
#include <map>
#include <string>
#include <unordered_set>

namespace df::setup {

class PresentFiles {
public:
    // Whether path's folder held an entry (file or folder) of path's name, compared as Windows
    // compares names (windows_name_key), when this object first listed that folder.
    bool has(const std::wstring& path);

private:
    std::map<std::wstring, std::unordered_set<std::string>> folders_;  // folder -> its entries' keys
};

}  // namespace df::setup
