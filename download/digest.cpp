#include "download/digest.h"

#include <wincrypt.h>

Md5::Md5() {
    // A verification context needs no key container: nothing is stored for the user.
    if (!CryptAcquireContextW(&m_provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        m_provider = 0;
        return;
    }
    if (!CryptCreateHash(m_provider, CALG_MD5, 0, 0, &m_hash)) m_hash = 0;
}

Md5::~Md5() {
    if (m_hash != 0) CryptDestroyHash(m_hash);
    if (m_provider != 0) CryptReleaseContext(m_provider, 0);
}

bool Md5::add(const void* bytes, size_t count) {
    const BYTE* at = static_cast<const BYTE*>(bytes);
    // The platform takes a 32-bit count per call.
    while (count > 0) {
        DWORD step = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        if (m_hash == 0 || !CryptHashData(m_hash, at, step, 0)) return false;
        at += step;
        count -= step;
    }
    return m_hash != 0;
}

bool Md5::finish(wchar_t (&hex)[kDigestChars]) {
    hex[0] = L'\0';
    BYTE digest[16];
    DWORD length = sizeof digest;
    if (m_hash == 0 || !CryptGetHashParam(m_hash, HP_HASHVAL, digest, &length, 0) ||
        length != sizeof digest) {
        return false;
    }
    static const wchar_t kDigits[] = L"0123456789abcdef";
    for (DWORD i = 0; i < length; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    hex[32] = L'\0';
    return true;
}
