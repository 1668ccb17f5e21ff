#include "download/progress.h"

#include <new>

#include "base/runstate.h"
#include "download/watch.h"
#include "log/log.h"

CBindStatusCallbackImpl::CBindStatusCallbackImpl(HANDLE cancelEvent, bool countBytes)
    : m_cancelEvent(cancelEvent), m_countBytes(countBytes) {}

CBindStatusCallbackImpl* CBindStatusCallbackImpl::create(HANDLE cancelEvent, bool countBytes) {
    CBindStatusCallbackImpl* callback =
        new (std::nothrow) CBindStatusCallbackImpl(cancelEvent, countBytes);
    if (callback == nullptr) writeLog(L"[WENVAROTH] Out of memory for a transfer callback");
    return callback;
}

void countReceived(uint32_t delta) {
    EnterCriticalSection(&g_stateLock);
    g_bytesReceived += delta;
    LeaveCriticalSection(&g_stateLock);
}

void sampleRate(unsigned long long received, DWORD startTick, DWORD now, DWORD* sampleTick) {
    if (now - *sampleTick <= 1000) return;
    DWORD elapsed = now - startTick;
    g_transferRate = static_cast<double>(received) / static_cast<double>(elapsed) / 1000.0 * 1024.0;
    *sampleTick = now;
}

TransferCallback::~TransferCallback() {
    if (m_callback == nullptr) return;
    ULONG left = m_callback->Release();
    if (left != 0) {
        writeLog(L"[WENVAROTH] The platform still holds a transfer callback (references left: %lu)",
                 left);
    }
}

STDMETHODIMP CBindStatusCallbackImpl::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
        *object = static_cast<IBindStatusCallback*>(this);
    } else if (IsEqualIID(iid, IID_IHttpNegotiate)) {
        *object = static_cast<IHttpNegotiate*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CBindStatusCallbackImpl::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

// The platform may let go of its last reference on another thread than the caller's.
STDMETHODIMP_(ULONG) CBindStatusCallbackImpl::Release() {
    LONG left = InterlockedDecrement(&m_refCount);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

// The binding is what the watchdog aborts a stalled or quit transfer through.
STDMETHODIMP CBindStatusCallbackImpl::OnStartBinding(DWORD, IBinding* binding) {
    watchBinding(binding);
    return S_OK;
}
STDMETHODIMP CBindStatusCallbackImpl::GetPriority(LONG*) { return S_OK; }
STDMETHODIMP CBindStatusCallbackImpl::OnLowResource(DWORD) { return S_OK; }

STDMETHODIMP CBindStatusCallbackImpl::OnProgress(ULONG progress, ULONG progressMax,
                                                 ULONG statusCode, LPCWSTR statusText) {
    // Unsigned 32-bit on purpose: a progress that goes backwards lowers the counter.
    uint32_t delta = static_cast<uint32_t>(progress) - static_cast<uint32_t>(m_lastProgress);
    if (m_countBytes) countReceived(delta);
    m_lastProgress = progress;
    m_lastProgressMax = progressMax;
    watchProgress(progress);
    if (statusCode == BINDSTATUS_CACHEFILENAMEAVAILABLE && statusText != nullptr) {
        watchCacheFile(statusText);
    }

    if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA) {
        DWORD now = m_tick();
        m_startTick = now;
        m_sampleTick = now;
    } else if (statusCode == BINDSTATUS_DOWNLOADINGDATA && m_countBytes) {
        sampleRate(progress, m_startTick, m_tick(), &m_sampleTick);
    }

    if (statusCode == BINDSTATUS_SENDINGREQUEST && ++m_requests > kMaxRequests) return E_ABORT;

    if (m_cancelEvent != nullptr && m_cancelEvent != INVALID_HANDLE_VALUE) {
        DWORD wait = WaitForSingleObject(m_cancelEvent, 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            m_aborted = 1;
            return E_ABORT;
        }
    }
    return S_OK;
}

STDMETHODIMP CBindStatusCallbackImpl::OnStopBinding(HRESULT, LPCWSTR) {
    watchBinding(nullptr);
    return S_OK;
}
STDMETHODIMP CBindStatusCallbackImpl::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }
STDMETHODIMP CBindStatusCallbackImpl::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return S_OK;
}
STDMETHODIMP CBindStatusCallbackImpl::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

STDMETHODIMP CBindStatusCallbackImpl::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                           LPWSTR* additionalHeaders) {
    if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
    return S_OK;
}

STDMETHODIMP CBindStatusCallbackImpl::OnResponse(DWORD responseCode, LPCWSTR, LPCWSTR,
                                                 LPWSTR* additionalRequestHeaders) {
    if (additionalRequestHeaders != nullptr) *additionalRequestHeaders = nullptr;
    m_httpStatus = responseCode;
    return S_OK;
}
