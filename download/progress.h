// The transfer callback: counts bytes into the shared progress state, samples the
// current file's rate about once a second and aborts the transfer once the cancel event is set.
// It hands the binding, the cache file's name and the progress count to the transfer watch
// (download/watch.h), which ends a transfer that stalls or that the user quit.
// It also records the HTTP status of the answer (IHttpNegotiate::OnResponse), so that the worker
// can refuse an error page that the platform delivered as a successful transfer: under Wine both
// transfer calls report S_OK for a 404 or 500 answer.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <cstdint>

class CBindStatusCallbackImpl final : public IBindStatusCallback, public IHttpNegotiate {
  public:
    // One object per transfer, on the heap with one reference, the caller's (TransferCallback
    // below holds it). The platform takes references of its own and may keep one past the
    // transfer call (a stalled or aborted one): the last Release frees the object, so a late call
    // never meets a dead one. Null when memory can't be obtained.
    // countBytes false: nothing is added to the shared progress state (the kit-list fetch).
    static CBindStatusCallbackImpl* create(HANDLE cancelEvent, bool countBytes = true);

    // IUnknown. QueryInterface answers IUnknown, IBindStatusCallback and IHttpNegotiate.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IBindStatusCallback
    STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
    STDMETHODIMP GetPriority(LONG* priority) override;
    STDMETHODIMP OnLowResource(DWORD reserved) override;
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                            LPCWSTR statusText) override;
    STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
    STDMETHODIMP GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                 STGMEDIUM* medium) override;
    STDMETHODIMP OnObjectAvailable(REFIID iid, IUnknown* object) override;
    // IHttpNegotiate: adds no headers; OnResponse records the status code.
    STDMETHODIMP BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                      LPWSTR* additionalHeaders) override;
    STDMETHODIMP OnResponse(DWORD responseCode, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                            LPWSTR* additionalRequestHeaders) override;

    // True when no HTTP answer was seen (served from the cache, or not HTTP), the answer's
    // status was 2xx, or 304: the cache revalidated its copy, which the caller's size check then
    // finds whole or not.
    bool httpStatusAcceptable() const {
        return m_httpStatus == 0 || (m_httpStatus >= 200 && m_httpStatus <= 299) ||
               m_httpStatus == 304;
    }

    LONG m_refCount = 1;
    LONG m_aborted = 0;
    HANDLE m_cancelEvent = nullptr;
    DWORD m_sampleTick = 0;
    DWORD m_startTick = 0;
    ULONG m_lastProgress = 0;
    ULONG m_lastProgressMax = 0;  // progress maximum of the latest notification (0: unknown)
    DWORD m_httpStatus = 0;       // status of the HTTP answer; 0 while none was seen
    // Requests sent for this transfer: each redirect the platform follows sends another. A server
    // that redirects for ever would otherwise hold the run without end, so past the bound the
    // transfer is aborted and fails (m_aborted stays 0: it is no user's cancel).
    ULONG m_requests = 0;
    static constexpr ULONG kMaxRequests = 50;
    bool m_countBytes = true;
    // The millisecond clock; a test replaces it.
    DWORD(WINAPI* m_tick)() = GetTickCount;

  private:
    CBindStatusCallbackImpl(HANDLE cancelEvent, bool countBytes);
    ~CBindStatusCallbackImpl() = default;
};

// The shared progress state, fed alike by the callback and by reads from the connection: `delta`
// more bytes received (unsigned 32-bit: a count that goes backwards lowers it).
void countReceived(uint32_t delta);
// About once a second (more than 1000 ms after `*sampleTick`, which then becomes `now`), the
// current file's rate from `received` bytes since `startTick`.
void sampleRate(unsigned long long received, DWORD startTick, DWORD now, DWORD* sampleTick);

// The caller's reference to one transfer's callback, dropped when the holder goes out of scope.
// A reference the platform still holds then is logged; the object lives on until it is let go.
class TransferCallback {
  public:
    explicit TransferCallback(HANDLE cancelEvent, bool countBytes = true)
        : m_callback(CBindStatusCallbackImpl::create(cancelEvent, countBytes)) {}
    ~TransferCallback();
    TransferCallback(const TransferCallback&) = delete;
    TransferCallback& operator=(const TransferCallback&) = delete;

    CBindStatusCallbackImpl* get() const { return m_callback; }
    CBindStatusCallbackImpl* operator->() const { return m_callback; }

  private:
    CBindStatusCallbackImpl* m_callback;
};
