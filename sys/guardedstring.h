// The program's guarded wide string, used for the parent's command line. Its characters live in
// one heap block fenced by guard words; a damaged guard word ends the process at once, before
// corrupted memory can be used.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvo {

class IMemMgr {
  public:
    virtual void* allocate(size_t bytes) = 0;
    virtual void* reallocate(void* block, size_t bytes) = 0;
    virtual void free(void* block) = 0;
    virtual void release() = 0;

  protected:
    ~IMemMgr() = default;
};

// Over the C runtime heap; one static, stateless instance serves every string.
class StringMemMgr final : public IMemMgr {
  public:
    void* allocate(size_t bytes) override;
    void* reallocate(void* block, size_t bytes) override;
    void free(void* block) override;
    void release() override;
    static StringMemMgr& instance();
};

}  // namespace talvo

class GuardedString {
  public:
    GuardedString();
    ~GuardedString();
    GuardedString(GuardedString&& other) noexcept;
    GuardedString& operator=(GuardedString&& other) noexcept;
    GuardedString(const GuardedString&) = delete;
    GuardedString& operator=(const GuardedString&) = delete;

    // Copies text up to its first null character.
    void assign(const wchar_t* text);
    const wchar_t* c_str() const;
    size_t length() const;
    size_t capacity() const;

    static constexpr uint32_t kGuardWord = 0xABCD;
    static constexpr uint32_t kGrowthStep = 64;

  private:
    struct Record;
    Record* record() const;
    void grow(size_t needed);
    void verifyGuards() const;
    void destroy();

    wchar_t* m_chars = nullptr;
};
