// A kernel handle with one owner, closed once on every path out of the owner's scope.
#pragma once

#include <windows.h>

class OwnedHandle {
  public:
    OwnedHandle() = default;
    // Takes `handle`; INVALID_HANDLE_VALUE and null both mean none.
    explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    // Gives the handle up to the caller, who then owns it.
    HANDLE release() {
        HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }
    // Closes the handle held, if any, and takes `handle`.
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (valid()) CloseHandle(m_handle);
        m_handle = handle;
    }

  private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};
