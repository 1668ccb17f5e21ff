#include "manifest/model.h"

std::vector<DownloadableFile> g_downloadableFiles;
std::vector<Dependency> g_dependencies;
std::vector<XmlPatch> g_xmlPatches;

namespace {

// Copies one optional text; false only when a text exists and its copy cannot be made.
bool copyOptional(const HeapText& from, HeapText* to) {
    if (!from) {
        to->reset();
        return true;
    }
    to->reset(newTextCopy(from.get()));
    return static_cast<bool>(*to);
}

}  // namespace

bool copyDownloadableFile(const DownloadableFile& from, DownloadableFile* to) {
    DownloadableFile copy;
    if (!copyOptional(from.name, &copy.name) ||
        !copyOptional(from.relativePath, &copy.relativePath) ||
        !copyOptional(from.baseUrl, &copy.baseUrl)) {
        return false;
    }
    copy.autorun = from.autorun;
    copy.size = from.size;
    *to = std::move(copy);
    return true;
}
