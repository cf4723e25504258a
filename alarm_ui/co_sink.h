#pragma once
// The button test's sink for the service's press reports (IRedButtonEvents).
// A report is posted to the test dialog that is bound at the moment; with no
// dialog bound it is dropped. The sink must outlive every call the service
// may still be making into it, so its owner keeps it for the whole run.

#include <objbase.h>

#include <mutex>

#include "com/owned_sink.h"
#include "contract/TolvaneLib.h"

class CCoSink final : public KRVN::com::OwnedSink<IRedButtonEvents> {
public:
    // The dialog window that receives kServicePressMessage from now on.
    void Bind(HWND dialog);
    // No dialog any more; returns after a report being posted right now.
    void Unbind();

    // Runs on a COM worker thread; always S_OK.
    HRESULT STDMETHODCALLTYPE RedButtonPressed() override;

private:
    std::mutex m_lock;
    HWND m_dialog = nullptr;
};
