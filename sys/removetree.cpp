// Placeholder until the folder removal lands.
#include "sys/removetree.h"

int removeFolderTree(const wchar_t*) { return 0; }
