// make: the kit list of a kit folder, from the files themselves.
#include <algorithm>
#include <map>

#include "download/kitlistparse.h"
#include "download/safename.h"
#include "kittool/kittool.h"

namespace {

// Why the program could not take `file` under its name, or null when it can.
const wchar_t* refusal(const KitFile& file) {
    if (file.name.size() > KITLIST_MAX_NAME) return L"the name is longer than 255 characters";
    for (wchar_t c : file.name) {
        if (c > 0xFF) return L"a character of the name has no single-byte form in the kit list";
        if (c == L' ' || c == L'\t') return L"a blank would split the name in the kit list";
    }
    if (!isSafePathSegment(file.name.c_str())) return L"the program refuses the name";
    size_t cut = file.relative.rfind(L'\\');
    if (cut != WideString::npos && !isSafeRelativePath(file.relative.substr(0, cut).c_str())) {
        return L"the program refuses the folder";
    }
    // 2147483647 stands for "2 GiB or more", left to the server's length; past 4 GiB the
    // program's progress count cannot take the file.
    if (file.size >= 0x100000000ULL) return L"a file of 4 GiB or more cannot be delivered";
    return nullptr;
}

struct Record {
    unsigned long long size;
    WideString digest;
    WideString relative;
};

}  // namespace

int makeKitList(const WideString& kitFolder, const WideString& productCode) {
    if (!isProductCode(WideString(productCode.c_str()))) {
        say(L"%s is no product code: a GUID in braces, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
            productCode.c_str());
        return kUsageOrReadError;
    }
    std::vector<KitFile> files;
    if (!listKitFiles(kitFolder, &files)) {
        say(L"cannot read the folder %s", kitFolder.c_str());
        return kUsageOrReadError;
    }
    std::sort(files.begin(), files.end(),
              [](const KitFile& a, const KitFile& b) { return a.relative < b.relative; });
    std::map<WideString, Record> byName;
    std::vector<WideString> order;
    for (const KitFile& file : files) {
        if (const wchar_t* why = refusal(file)) {
            finding(L"%s: %s", file.relative.c_str(), why);
            continue;
        }
        Record record;
        if (!digestFile(kitFolder + L"\\" + file.relative, &record.size, &record.digest)) {
            say(L"cannot read %s", file.relative.c_str());
            return kUsageOrReadError;
        }
        record.relative = file.relative;
        auto known = byName.find(file.name);
        if (known == byName.end()) {
            byName[file.name] = record;
            order.push_back(file.name);
        } else if (known->second.digest != record.digest || known->second.size != record.size) {
            // The kit list names files by name alone: one record cannot describe both.
            finding(L"%s: another file of this name, %s, has other contents", file.relative.c_str(),
                    known->second.relative.c_str());
        }
    }
    if (findingCount() != 0) {
        say(L"kitmd5.dat not written: %d findings", findingCount());
        return kFindings;
    }
    NarrowString text;
    for (wchar_t c : productCode) text += static_cast<char>(c);
    text += "\r\n";
    for (const WideString& name : order) {
        const Record& record = byName[name];
        for (wchar_t c : name) text += static_cast<char>(c);
        unsigned long long size = std::min(record.size, 2147483647ULL);
        char number[24];
        _snprintf(number, sizeof number, " %I64u ", size);
        number[sizeof number - 1] = '\0';
        text += number;
        for (wchar_t c : record.digest) text += static_cast<char>(c);
        text += "\r\n";
    }
    WideString path = kitFolder + L"\\kitmd5.dat";
    FILE* out = _wfopen(path.c_str(), L"wb");
    bool written = out != nullptr && fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out != nullptr && fclose(out) != 0) written = false;
    if (!written) {
        say(L"cannot write %s", path.c_str());
        return kUsageOrReadError;
    }
    say(L"%s: %u files", path.c_str(), static_cast<unsigned>(order.size()));
    return kClean;
}
