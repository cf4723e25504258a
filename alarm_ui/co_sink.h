#pragma once
// The button test's sink for the service's press reports (IRedButtonEvents).
// A report is posted to the test dialog that is bound at the moment; with no
// dialog bound it is dropped. The sink must outlive every call the service
// may still be making into it, so its owner keeps it for the whole run.

#include <objbase.h>

#include "common/crit_sect.h"
#include "contract/TolvaneLib.h"

class CCoSink final : public IRedButtonEvents {
public:
    CCoSink() = default;
    CCoSink(const CCoSink&) = delete;
    CCoSink& operator=(const CCoSink&) = delete;

    // The dialog window that receives kServicePressMessage from now on.
    void Bind(HWND dialog);
    // No dialog any more; returns after a report being posted right now.
    void Unbind();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override;
    // Fixed counts: the owner decides the lifetime.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // Runs on a COM worker thread; always S_OK.
    HRESULT STDMETHODCALLTYPE RedButtonPressed() override;

private:
    KRVN::CCritSect m_lock;
    HWND m_dialog = nullptr;
};
