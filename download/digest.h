// The MD5 digest of a file's bytes, through the platform's own hash (CryptoAPI, present on every
// supported Windows), computed in the same pass that copies the bytes, so that the bytes checked
// are the bytes written.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr size_t kDigestChars = 33;  // 32 hexadecimal digits and the terminator

class Md5 {
  public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    // False when the platform's hash could not be made; add and finish then fail too.
    bool ready() const { return m_hash != 0; }
    bool add(const void* bytes, size_t count);
    // The digest in lower-case hexadecimal; the hash takes no more bytes afterwards.
    bool finish(wchar_t (&hex)[kDigestChars]);

  private:
    HCRYPTPROV m_provider = 0;
    HCRYPTHASH m_hash = 0;
};
