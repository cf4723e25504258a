#pragma once
// The interface map of a class: which IIDs QueryInterface answers, in order,
// and through which base each one is reached. IUnknown is answered by
// ComObject itself and is never listed.
//
//   using Interfaces = InterfaceMap<Entry<IQNAlarm>, Entry<IDispatch, IQNAlarm>,
//                                   Entry<ISupportErrorInfo>>;

#include <windows.h>
#include <objbase.h>

namespace KRVN::com {

// Answers __uuidof(Itf), reached through the base Via (for an interface
// such as IDispatch that several bases of a class derive from).
template <typename Itf, typename Via = Itf> struct Entry {
    template <typename T> static Itf* Find(T* object, REFIID iid) noexcept {
        return ::IsEqualIID(iid, __uuidof(Itf)) ? static_cast<Itf*>(static_cast<Via*>(object))
                                                : nullptr;
    }
};

template <typename... Entries> struct InterfaceMap {
    // The interface pointer for iid (not yet counted), or null.
    template <typename T> static IUnknown* Find(T* object, REFIID iid) noexcept {
        IUnknown* found = nullptr;
        ((found = Entries::Find(object, iid)) || ...);
        return found;
    }
};

} // namespace KRVN::com
