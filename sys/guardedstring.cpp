#include "sys/guardedstring.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "base/runstate.h"

namespace talvo {

void* StringMemMgr::allocate(size_t bytes) { return malloc(bytes); }
void* StringMemMgr::reallocate(void* block, size_t bytes) { return realloc(block, bytes); }
void StringMemMgr::free(void* block) { ::free(block); }
void StringMemMgr::release() {}

StringMemMgr& StringMemMgr::instance() {
    static StringMemMgr manager;
    return manager;
}

}  // namespace talvo

struct GuardedString::Record {
    talvo::IMemMgr* manager;
    uint32_t length;
    uint32_t capacity;
    uint32_t growthStep;
    uint8_t hasBuffer;
    uint8_t ownsRecord;
};

namespace {

// Block layout: guard word, record pointer, guard word, capacity + 1 characters, guard word.
constexpr size_t kRecordPointerOffset = sizeof(uint32_t);
constexpr size_t kHeaderBytes = sizeof(uint32_t) + sizeof(void*) + sizeof(uint32_t);

unsigned char* blockOf(wchar_t* chars) {
    return reinterpret_cast<unsigned char*>(chars) - kHeaderBytes;
}

void writeWord(unsigned char* at, uint32_t value) { memcpy(at, &value, sizeof value); }
uint32_t readWord(const unsigned char* at) {
    uint32_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

size_t trailingGuardOffset(size_t capacity) { return kHeaderBytes + 2 * (capacity + 1); }

}  // namespace

GuardedString::GuardedString() {
    grow(kGrowthStep);
    verifyGuards();
}

GuardedString::~GuardedString() { destroy(); }

GuardedString::GuardedString(GuardedString&& other) noexcept : m_chars(other.m_chars) {
    other.m_chars = nullptr;
}

GuardedString& GuardedString::operator=(GuardedString&& other) noexcept {
    if (this != &other) {
        destroy();
        m_chars = other.m_chars;
        other.m_chars = nullptr;
    }
    return *this;
}

GuardedString::Record* GuardedString::record() const {
    if (m_chars == nullptr) return nullptr;
    Record* rec;
    memcpy(&rec, blockOf(m_chars) + kRecordPointerOffset, sizeof rec);
    return rec;
}

void GuardedString::verifyGuards() const {
    if (m_chars == nullptr) return;
    const unsigned char* block = blockOf(m_chars);
    Record* rec = record();
    if (readWord(block) != kGuardWord ||
        readWord(block + kHeaderBytes - sizeof(uint32_t)) != kGuardWord || rec == nullptr ||
        readWord(block + trailingGuardOffset(rec->capacity)) != kGuardWord) {
        endProgram();
    }
}

void GuardedString::grow(size_t needed) {
    Record* rec = record();
    if (rec == nullptr) {
        rec = new (std::nothrow) Record{&talvo::StringMemMgr::instance(), 0, 0, kGrowthStep, 0, 1};
        if (rec == nullptr) endProgram();
    }
    size_t current = rec->capacity;
    if (current != 0 && current >= needed) return;
    size_t increase = needed - current;
    if (increase < rec->growthStep) increase = rec->growthStep;
    size_t capacity;
    if (current <= 1023 && increase < current) {
        capacity = 2 * current;
    } else {
        if (current > 1023 && increase < 1024) increase = 1024;
        capacity = current + increase;
    }
    if (capacity > 0x3FFFFFF0u) endProgram();
    size_t bytes = trailingGuardOffset(capacity) + sizeof(uint32_t);
    // Every block of a string comes from its own manager (hasBuffer is set with the first one),
    // so a string that has characters keeps them by resizing that block; only the first block
    // is new, and it starts zero-filled.
    unsigned char* block;
    if (m_chars != nullptr) {
        block = static_cast<unsigned char*>(rec->manager->reallocate(blockOf(m_chars), bytes));
    } else {
        block = static_cast<unsigned char*>(rec->manager->allocate(bytes));
        if (block != nullptr) memset(block, 0, bytes);
    }
    if (block == nullptr) endProgram();
    writeWord(block, kGuardWord);
    memcpy(block + kRecordPointerOffset, &rec, sizeof rec);
    writeWord(block + kHeaderBytes - sizeof(uint32_t), kGuardWord);
    writeWord(block + trailingGuardOffset(capacity), kGuardWord);
    m_chars = reinterpret_cast<wchar_t*>(block + kHeaderBytes);
    if (current == 0) m_chars[0] = L'\0';
    m_chars[capacity] = L'\0';
    rec->capacity = static_cast<uint32_t>(capacity);
    rec->hasBuffer = 1;
    if (rec->length > rec->capacity) rec->length = rec->capacity;
    m_chars[rec->length] = L'\0';
}

void GuardedString::assign(const wchar_t* text) {
    size_t length = text == nullptr ? 0 : wcslen(text);
    grow(length);
    Record* rec = record();
    if (length > 0) wmemcpy(m_chars, text, length);
    rec->length = static_cast<uint32_t>(length);
    m_chars[length] = L'\0';
    verifyGuards();
}

const wchar_t* GuardedString::c_str() const { return m_chars != nullptr ? m_chars : L""; }

size_t GuardedString::length() const {
    Record* rec = record();
    return rec != nullptr ? rec->length : 0;
}

size_t GuardedString::capacity() const {
    Record* rec = record();
    return rec != nullptr ? rec->capacity : 0;
}

void GuardedString::destroy() {
    if (m_chars == nullptr) return;
    verifyGuards();
    Record* rec = record();
    if (rec->hasBuffer) rec->manager->free(blockOf(m_chars));
    rec->manager->release();
    if (rec->ownsRecord) delete rec;
    m_chars = nullptr;
}
