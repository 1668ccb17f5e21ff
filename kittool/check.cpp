// check: the kit against the manifest, as the program would read both, with every finding on a
// line of its own that names the entry.
#include <map>
#include <set>

#include "base/runstate.h"
#include "download/kitlistparse.h"
#include "download/remotesize.h"
#include "download/safename.h"
#include "download/url.h"
#include "kittool/kittool.h"
#include "manifest/manifest.h"
#include "manifest/xmldoc.h"

namespace {

constexpr unsigned kPathLimit = 259;
constexpr unsigned kKitFolderLeaf = 14;  // "talvotempdir01"
const wchar_t kPrefix[] = L"[WENVAROTH] ";

// One architecture's reading of the manifest.
struct Section {
    const wchar_t* name;
    bool loaded = false;
    WideString baseUrl;
    bool hasBase = false;
    std::vector<DownloadableFile> files;
    std::vector<Dependency> dependencies;
};

// The loader's lines, each told once (the patches are read with either section), and whether the
// manifest did not load at all.
std::set<WideString> g_told;
bool g_manifestUnread = false;

void noteFromLoader(const wchar_t* line) {
    if (wcsstr(line, L"Cannot load the manifest") != nullptr) g_manifestUnread = true;
    if (!g_told.insert(line).second) return;
    size_t skip = wcsncmp(line, kPrefix, wcslen(kPrefix)) == 0 ? wcslen(kPrefix) : 0;
    finding(L"locations.xml: %s", line + skip);
}

WideString text(const HeapText& value) { return value ? value.get() : L""; }

// The relative path as the program uses it: without empty and "." segments.
WideString levels(const DownloadableFile& file, wchar_t separator) {
    wchar_t out[kPathChars] = {};
    if (file.relativePath)
        normalizeRelativePath(file.relativePath.get(), separator, out, kPathChars);
    return out;
}

bool isUrl(const WideString& kit) {
    return _wcsnicmp(kit.c_str(), L"http://", 7) == 0 ||
           _wcsnicmp(kit.c_str(), L"https://", 8) == 0;
}

bool readSection(const WideString& manifest, BOOL win64, Section* section) {
    g_downloadableFiles.clear();
    g_dependencies.clear();
    g_xmlPatches.clear();
    free(g_baseUrl);
    g_baseUrl = nullptr;
    g_isWin64 = win64;
    loadManifest(manifest.c_str(), noteFromLoader);
    section->loaded = !g_manifestUnread;
    section->hasBase = g_baseUrl != nullptr && g_baseUrl[0] != L'\0';
    section->baseUrl = g_baseUrl != nullptr ? g_baseUrl : L"";
    for (DownloadableFile& file : g_downloadableFiles) section->files.push_back(std::move(file));
    for (Dependency& dependency : g_dependencies) {
        section->dependencies.push_back(std::move(dependency));
    }
    return section->loaded;
}

// Where a kit file lies: a path below the kit folder, or an address.
WideString location(const WideString& kit, const DownloadableFile& file) {
    if (!isUrl(kit)) {
        WideString folder = levels(file, L'\\');
        return kit + L"\\" + (folder.empty() ? L"" : folder + L"\\") + file.name.get();
    }
    WideString base = file.baseUrl ? file.baseUrl.get() : kit;
    wchar_t url[kPathChars] = {};
    WideString folder = levels(file, L'/');
    if (!textCopy(url, base.c_str()) ||
        (!folder.empty() && !appendUrlSegment(url, folder.c_str())) ||
        !appendUrlSegment(url, file.name.get())) {
        return L"";
    }
    return url;
}

// Checks one listed kit file against its record: present, of the listed size and digest.
void checkListedFile(const WideString& kit, const DownloadableFile& file,
                     const KitListEntry& record) {
    const wchar_t* name = file.name.get();
    if (file.baseUrl && !isUrl(kit)) {
        say(L"note: %s is served from its own address %s: not checked", name, file.baseUrl.get());
        return;
    }
    WideString where = location(kit, file);
    bool sizeKnown = record.size > 0 && record.size != 2147483647;
    if (isUrl(kit)) {
        int32_t size = 0;
        DWORD status =
            where.empty() ? ERROR_BUFFER_OVERFLOW : queryRemoteSize(where.c_str(), &size);
        if (status != 0) {
            finding(L"%s: listed, but %s gives no length (error %lu)", name, where.c_str(),
                    static_cast<unsigned long>(status));
        } else if (sizeKnown && size != record.size) {
            finding(L"%s: the kit list says %d bytes, %s has %d", name, record.size, where.c_str(),
                    size);
        }
        return;
    }
    unsigned long long size = 0;
    WideString digest;
    if (!digestFile(where, &size, &digest)) {
        finding(L"%s: listed, but %s is missing", name, where.c_str());
        return;
    }
    if (sizeKnown && size != static_cast<unsigned long long>(record.size)) {
        finding(L"%s: the kit list says %d bytes, the file has %I64u", name, record.size, size);
    } else if (!sizeKnown && size < 2147483647ULL) {
        say(L"note: %s: the kit list's size %d means unknown, the file has %I64u bytes", name,
            record.size, size);
    }
    if (!isFileDigest(record.checksum)) {
        say(L"note: %s: checksum \"%s\" is no digest: unchecked", name, record.checksum.c_str());
    } else if (_wcsicmp(record.checksum.c_str(), digest.c_str()) != 0) {
        finding(L"%s: the kit list's checksum %s differs from the file's MD5 %s", name,
                record.checksum.c_str(), digest.c_str());
    }
}

bool prerequisitePresent(const WideString& kit, const WideString& fileName) {
    if (!isUrl(kit)) {
        DWORD attributes = GetFileAttributesW((kit + L"\\dependencies\\" + fileName).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    wchar_t url[kPathChars] = {};
    int32_t size = 0;
    return textCopy(url, kit.c_str()) && appendUrlSegment(url, L"dependencies") &&
           appendUrlSegment(url, fileName.c_str()) && queryRemoteSize(url, &size) == 0;
}

WideString entryKey(const DownloadableFile& file) {
    return WideString(file.name.get()) + L"|" + levels(file, L'\\') + L"|" +
           (file.autorun ? L"autorun" : L"") + L"|" + text(file.baseUrl);
}

void compareSections(const Section& x86, const Section& x64) {
    if (x86.baseUrl != x64.baseUrl) {
        finding(L"x86 and x64: base_url differs (%s, %s)", x86.baseUrl.c_str(),
                x64.baseUrl.c_str());
    }
    std::multiset<WideString> keys[2];
    for (const DownloadableFile& file : x86.files) keys[0].insert(entryKey(file));
    for (const DownloadableFile& file : x64.files) keys[1].insert(entryKey(file));
    const Section* sections[2] = {&x86, &x64};
    for (int s = 0; s < 2; ++s) {
        for (const DownloadableFile& file : sections[s]->files) {
            if (keys[1 - s].count(entryKey(file)) == 0) {
                finding(L"%s/downloadable_files: file %s (relative_path \"%s\") is not in %s",
                        sections[s]->name, file.name.get(), text(file.relativePath).c_str(),
                        sections[1 - s]->name);
            }
        }
    }
}

}  // namespace

int checkKit(const WideString& appFolder, const WideString& kit, unsigned tempChars) {
    WideString manifest = appFolder + L"\\locations.xml";
    if (GetFileAttributesW(manifest.c_str()) == INVALID_FILE_ATTRIBUTES) {
        say(L"cannot read %s", manifest.c_str());
        return kUsageOrReadError;
    }
    Section sections[2];
    sections[0].name = L"x86";
    sections[1].name = L"x64";
    for (int s = 0; s < 2; ++s) {
        if (!readSection(manifest, s == 1, &sections[s])) return kFindings;  // told by the loader
        if (!sections[s].hasBase) {
            finding(
                L"locations.xml: %s has no base_url: a run there ends with the download "
                L"problem",
                sections[s].name);
        } else if (sections[s].files.empty()) {
            finding(
                L"locations.xml: %s has no downloadable files: a run there ends with the "
                L"download problem",
                sections[s].name);
        }
    }

    std::vector<unsigned char> bytes;
    WideString why;
    WideString listPlace = kit + (isUrl(kit) ? L"/kitmd5.dat" : L"\\kitmd5.dat");
    if (isUrl(kit) && kit[kit.size() - 1] == L'/') listPlace = kit + L"kitmd5.dat";
    if (isUrl(kit) ? !fetchUrl(listPlace, &bytes, &why) : !readWholeFile(listPlace, &bytes)) {
        say(L"cannot read %s %s", listPlace.c_str(), why.c_str());
        return kUsageOrReadError;
    }
    WideString productCode;
    std::map<WideString, KitListEntry> listed;
    KitListReport report;
    int parsed = parseKitListReporting(bytes.data(), bytes.size(), &productCode, &listed, &report);
    if (report.byteOrderMark) say(L"note: kitmd5.dat starts with a UTF-8 byte order mark, skipped");
    if (parsed != KITLIST_OK) {
        finding(L"kitmd5.dat: line %u: %s", static_cast<unsigned>(report.line), report.problem);
    } else if (!isProductCode(productCode)) {
        finding(L"kitmd5.dat: the first token \"%s\" is no product code", productCode.c_str());
    }

    std::set<WideString> named, checked;
    unsigned longest = 0;
    WideString longestPath;
    auto budget = [&](const WideString& inKit) {
        unsigned length = tempChars + 1 + kKitFolderLeaf + 1 + static_cast<unsigned>(inKit.size());
        if (length > longest) {
            longest = length;
            longestPath = inKit;
        }
    };
    for (const Section& section : sections) {
        bool setupExe = false, setupXml = false;
        for (const DownloadableFile& file : section.files) {
            const wchar_t* name = file.name.get();
            named.insert(name);
            if (!isSafePathSegment(name) ||
                (file.relativePath && !isSafeRelativePath(file.relativePath.get()))) {
                finding(
                    L"%s/downloadable_files: file %s in \"%s\": the program refuses this name "
                    L"or path, and the run fails",
                    section.name, name, text(file.relativePath).c_str());
                continue;
            }
            auto record = listed.find(name);
            if (record == listed.end()) {
                if (parsed == KITLIST_OK) {
                    finding(
                        L"%s/downloadable_files: file %s is not in kitmd5.dat and is never "
                        L"downloaded",
                        section.name, name);
                }
                continue;
            }
            WideString folder = levels(file, L'\\');
            budget((folder.empty() ? L"" : folder + L"\\") + name);
            bool atTop = folder.empty() && !file.autorun;
            setupExe = setupExe || (atTop && wcscmp(name, L"setup.exe") == 0);
            setupXml = setupXml || (atTop && wcscmp(name, L"setup.xml") == 0);
            if (checked.insert(location(kit, file)).second) {
                checkListedFile(kit, file, record->second);
            }
        }
        // Without a readable list every file is missing; that was said once already.
        if (parsed == KITLIST_OK && !setupExe) {
            finding(L"%s: the kit has no setup.exe at its top", section.name);
        }
        if (parsed == KITLIST_OK && !setupXml) {
            finding(L"%s: the kit has no setup.xml at its top", section.name);
        }
        for (const Dependency& dependency : section.dependencies) {
            const wchar_t* fileName = dependency.fileName.get();
            budget(WideString(L"dependencies\\") + fileName);
            if (!isSafePathSegment(fileName)) {
                finding(L"%s/dependencies: %s: the program refuses this name, and the run fails",
                        section.name, fileName);
            } else if (checked.insert(L"dependencies\\" + WideString(fileName)).second &&
                       !prerequisitePresent(kit, fileName)) {
                finding(L"%s/dependencies: %s (os %s) is missing from the dependencies folder",
                        section.name, fileName, osFilterName(dependency.osFilter));
            }
        }
    }
    for (const auto& record : listed) {
        if (named.count(record.first.c_str()) == 0) {
            finding(L"kitmd5.dat: %s is named by no file entry of the manifest",
                    record.first.c_str());
        }
    }
    compareSections(sections[0], sections[1]);

    if (!isUrl(kit) &&
        GetFileAttributesW((kit + L"\\setup.xml").c_str()) != INVALID_FILE_ATTRIBUTES) {
        XmlMemory memory;
        XmlDocument document(memory);
        HRESULT hr = S_OK;
        if (document.open((kit + L"\\setup.xml").c_str(), &hr) ==
            XmlDocument::OpenResult::kNotLoaded) {
            wchar_t reason[320];
            document.describeLoadFailure(reason, 320);
            finding(L"setup.xml is not well-formed: %s; no patch would be applied", reason);
        }
    }

    if (longest > kPathLimit) {
        finding(
            L"%%TEMP%%\\talvotempdir01\\%s: %u characters with a %%TEMP%% of %u, over the limit "
            L"of %u",
            longestPath.c_str(), longest, tempChars, kPathLimit);
    } else if (longest != 0) {
        say(L"note: longest path %%TEMP%%\\talvotempdir01\\%s: %u characters with a %%TEMP%% of "
            L"%u (limit %u)",
            longestPath.c_str(), longest, tempChars, kPathLimit);
    }
    say(L"%d findings", findingCount());
    return findingCount() == 0 ? kClean : kFindings;
}
