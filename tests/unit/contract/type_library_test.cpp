// Guards the wire contract: the type library that widl built (embedded in this
// program as resource 1, as in the service) is compared with the contract's
// tables. Every expected identifier is written out here, never taken from
// the generated header, so a wrong GUID, slot or dispatch number in the IDL
// fails this test instead of breaking cross-process calls silently.

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DISPID kAnyDispid = 0x7FFFFFFF; // custom interfaces: not part of the contract

struct Member {
    int slot;
    DISPID dispid;
    std::wstring name;
    INVOKEKIND kind;
    std::vector<std::wstring> params; // "[in] BSTR newVal"; a name is checked only when given
    std::wstring help;
    bool restricted;
};

struct Interface {
    std::wstring iid;
    std::wstring name;
    bool dual;
    std::wstring base;
    std::wstring help;
    std::vector<Member> members;
};

constexpr INVOKEKIND kFunc = INVOKE_FUNC;
constexpr INVOKEKIND kGet = INVOKE_PROPERTYGET;
constexpr INVOKEKIND kPut = INVOKE_PROPERTYPUT;

const std::vector<Interface>& ContractInterfaces() {
    static const std::vector<Interface> interfaces = {
        {L"{9B6B4DBB-B734-4E4B-AA72-77666F7B2C9A}",
         L"IQNAlarm",
         true,
         L"IDispatch",
         L"IQNAlarm Interface",
         {
             {7, 1, L"ComPort", kGet, {L"[out,retval] BSTR* pVal"}, L"property ComPort", false},
             {8, 1, L"ComPort", kPut, {L"[in] BSTR"}, L"property ComPort", false},
         }},
        {L"{18535907-9530-4E00-8B72-71AB547DE2EE}",
         L"IEstablishCommunications",
         false,
         L"IUnknown",
         L"",
         {
             {3, kAnyDispid, L"Advise", kFunc, {L"[in] IRedButtonEvents*"}, L"", false},
             {4, kAnyDispid, L"Unadvise", kFunc, {}, L"", false},
             {5, kAnyDispid, L"AdviseChangeIcon", kFunc, {L"[in] IChangeIconEvents*"}, L"", false},
             {6, kAnyDispid, L"UnadviseChangeIcon", kFunc, {}, L"", false},
             {7, kAnyDispid, L"SetSendRedButtonCallback", kFunc, {L"[in] LONG newVal"}, L"", false},
         }},
        {L"{F7B413B2-4EF7-4E96-BE42-58F83402C00F}",
         L"IRedButtonEvents",
         false,
         L"IUnknown",
         L"",
         {
             {3, kAnyDispid, L"RedButtonPressed", kFunc, {}, L"", false},
         }},
        {L"{3F716AA7-EBD9-4F6F-9BEF-3617F0A2C2DC}",
         L"IChangeIconEvents",
         false,
         L"IUnknown",
         L"",
         {
             {3,
              kAnyDispid,
              L"ChangeIcon",
              kFunc,
              {L"[in] eConnectState state", L"[in] BSTR bstrAddresses"},
              L"",
              false},
         }},
        {L"{86189807-2D32-42E0-963B-01B2776B2C1B}",
         L"IQNServer",
         true,
         L"IDispatch",
         L"IQNServer Interface",
         {
             {7, 1, L"Address", kGet, {L"[out,retval] BSTR* pVal"}, L"property Address", false},
             {8, 1, L"Address", kPut, {L"[in] BSTR"}, L"property Address", false},
             {9, 2, L"Password", kGet, {L"[out,retval] BSTR* pVal"}, L"property Password", false},
             {10, 2, L"Password", kPut, {L"[in] BSTR"}, L"property Password", false},
             {11, 3, L"Port", kGet, {L"[out,retval] ULONG* pVal"}, L"property Port", false},
             {12, 3, L"Port", kPut, {L"[in] ULONG"}, L"property Port", false},
             {13, 5, L"SendAlarm", kFunc, {}, L"method SendAlarm", false},
             {14,
              6,
              L"StateCode",
              kGet,
              {L"[out,retval] LONG* pVal"},
              L"property StateCode",
              false},
             {15, 6, L"StateCode", kPut, {L"[in] LONG"}, L"property StateCode", false},
         }},
        {L"{78A01E13-3A8A-417E-B8E9-1AE4E7C7919B}",
         L"IQNServers",
         true,
         L"IDispatch",
         L"IQNServers Interface",
         {
             {7,
              0,
              L"Item",
              kFunc,
              {L"[in] VARIANT index", L"[out,retval] VARIANT* pItem"},
              L"method Item",
              false},
             {8, 1, L"Count", kGet, {L"[out,retval] LONG* pVal"}, L"property Count", false},
             {9, 2, L"Add", kFunc, {L"[in] IDispatch* pServer"}, L"method Add", false},
             {10, 3, L"Remove", kFunc, {L"[in] BSTR bstrServer"}, L"method Remove", false},
             {11, -4, L"_NewEnum", kGet, {L"[out,retval] IUnknown** pVal"}, L"", true},
             {12, 4, L"SendAlarm", kFunc, {}, L"method SendAlarm", false},
             {13,
              5,
              L"TryConnect",
              kFunc,
              {L"[in] IDispatch* pServer"},
              L"method TryConnect",
              false},
             {14, 6, L"RefreshState", kFunc, {}, L"method RefreshState", false},
             {15,
              7,
              L"State",
              kGet,
              {L"[out,retval] eConnectState* pVal"},
              L"property State",
              false},
         }},
    };
    return interfaces;
}

// A type library keeps one spelling per name, the first one it meets; the
// library lists IQNServers first so that the property State keeps its
// capital. Names must match exactly, as type-library tools show them.
bool SameName(const std::wstring& a, const std::wstring& b) {
    return a == b;
}

// So ChangeIcon's parameter reads "State"; parameter names bind without
// regard to case.
bool SameParameter(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

GUID Guid(const std::wstring& text) {
    GUID guid = {};
    EXPECT_EQ(S_OK, ::IIDFromString(text.c_str(), &guid)) << "bad GUID text in the test";
    return guid;
}

std::wstring Text(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

template <typename T> struct Released {
    void operator()(T* p) const { p->Release(); }
};
template <typename T> using Ref = std::unique_ptr<T, Released<T>>;

using TypeAttr = std::unique_ptr<TYPEATTR, std::function<void(TYPEATTR*)>>;
using FuncDesc = std::unique_ptr<FUNCDESC, std::function<void(FUNCDESC*)>>;
using VarDesc = std::unique_ptr<VARDESC, std::function<void(VARDESC*)>>;

TypeAttr Attributes(ITypeInfo* info) {
    TYPEATTR* attributes = nullptr;
    EXPECT_EQ(S_OK, info->GetTypeAttr(&attributes));
    return TypeAttr(attributes, [info](TYPEATTR* p) { info->ReleaseTypeAttr(p); });
}

FuncDesc Function(ITypeInfo* info, UINT index) {
    FUNCDESC* desc = nullptr;
    EXPECT_EQ(S_OK, info->GetFuncDesc(index, &desc));
    return FuncDesc(desc, [info](FUNCDESC* p) { info->ReleaseFuncDesc(p); });
}

VarDesc Variable(ITypeInfo* info, UINT index) {
    VARDESC* desc = nullptr;
    EXPECT_EQ(S_OK, info->GetVarDesc(index, &desc));
    return VarDesc(desc, [info](VARDESC* p) { info->ReleaseVarDesc(p); });
}

// Name and help string of a member (or of the type itself for MEMBERID_NIL).
std::pair<std::wstring, std::wstring> Documentation(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    BSTR help = nullptr;
    EXPECT_EQ(S_OK, info->GetDocumentation(id, &name, &help, nullptr, nullptr));
    std::pair<std::wstring, std::wstring> result(name ? name : L"", help ? help : L"");
    ::SysFreeString(name);
    ::SysFreeString(help);
    return result;
}

Ref<ITypeInfo> Referenced(ITypeInfo* info, HREFTYPE reference) {
    ITypeInfo* target = nullptr;
    EXPECT_EQ(S_OK, info->GetRefTypeInfo(reference, &target));
    return Ref<ITypeInfo>(target);
}

Ref<ITypeInfo> ImplementedType(ITypeInfo* info, UINT index) {
    HREFTYPE reference = 0;
    EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(index, &reference));
    return Referenced(info, reference);
}

std::wstring TypeText(ITypeInfo* info, const TYPEDESC& type) {
    switch (type.vt) {
    case VT_PTR:
        return TypeText(info, *type.lptdesc) + L"*";
    case VT_BSTR:
        return L"BSTR";
    case VT_I4:
        return L"LONG";
    case VT_UI4:
        return L"ULONG";
    case VT_VARIANT:
        return L"VARIANT";
    case VT_DISPATCH:
        return L"IDispatch*";
    case VT_UNKNOWN:
        return L"IUnknown*";
    case VT_HRESULT:
        return L"HRESULT";
    case VT_USERDEFINED: {
        Ref<ITypeInfo> target = Referenced(info, type.hreftype);
        return target ? Documentation(target.get(), MEMBERID_NIL).first : L"?";
    }
    default:
        return L"vt" + std::to_wstring(type.vt);
    }
}

std::wstring ParamText(ITypeInfo* info, const FUNCDESC& desc, int index,
                       const std::vector<std::wstring>& names, bool withName) {
    const ELEMDESC& param = desc.lprgelemdescParam[index];
    const USHORT flags = param.paramdesc.wParamFlags;
    std::wstring direction;
    if (flags & PARAMFLAG_FIN) {
        direction += L"in";
    }
    if (flags & PARAMFLAG_FOUT) {
        direction += direction.empty() ? L"out" : L",out";
    }
    if (flags & PARAMFLAG_FRETVAL) {
        direction += L",retval";
    }
    if (flags & ~(PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) {
        direction += L",flags" + std::to_wstring(flags);
    }
    std::wstring text = L"[" + direction + L"] " + TypeText(info, param.tdesc);
    if (withName) {
        text += L" " + (static_cast<size_t>(index + 1) < names.size() ? names[index + 1] : L"?");
    }
    return text;
}

// The function of info with this name and kind, or null.
FuncDesc FindFunction(ITypeInfo* info, const std::wstring& name, INVOKEKIND kind) {
    TypeAttr attributes = Attributes(info);
    for (UINT i = 0; attributes && i < attributes->cFuncs; ++i) {
        FuncDesc desc = Function(info, i);
        if (desc && desc->invkind == kind &&
            SameName(Documentation(info, desc->memid).first, name)) {
            return desc;
        }
    }
    return FuncDesc(nullptr, [](FUNCDESC*) {});
}

class TypeLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wchar_t path[MAX_PATH] = {};
        ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
        ITypeLib* library = nullptr;
        ASSERT_EQ(S_OK, ::LoadTypeLibEx(path, REGKIND_NONE, &library));
        s_library.reset(library);
    }
    static void TearDownTestSuite() { s_library.reset(); }

    static Ref<ITypeInfo> TypeOf(const std::wstring& guid) {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(S_OK, s_library->GetTypeInfoOfGuid(Guid(guid), &info)) << guid;
        return Ref<ITypeInfo>(info);
    }

    // For a dual interface the IID names the dispatch side; the vtable side
    // is the interface it implements at index -1.
    static Ref<ITypeInfo> VtableOf(const Interface& itf) {
        Ref<ITypeInfo> info = TypeOf(itf.iid);
        if (!info || !itf.dual) {
            return info;
        }
        HREFTYPE reference = 0;
        EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference));
        return Referenced(info.get(), reference);
    }

    static Ref<ITypeLib> s_library;
};

Ref<ITypeLib> TypeLibrary::s_library;

TEST_F(TypeLibrary, IdentityVersionLocaleAndHelpString) {
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, s_library->GetLibAttr(&attributes));
    EXPECT_EQ(L"{74C3D34A-2C32-4987-862B-BC506646A24E}", Text(attributes->guid));
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(0x0409u, attributes->lcid);
    s_library->ReleaseTLibAttr(attributes);

    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_EQ(S_OK, s_library->GetDocumentation(-1, &name, &help, nullptr, nullptr));
    EXPECT_PRED2(SameName, L"TolvaneLib", name);
    EXPECT_STREQ(L"Tolvane 1.0 Type Library", help);
    ::SysFreeString(name);
    ::SysFreeString(help);
}

TEST_F(TypeLibrary, ConnectStateEnumHasItsGuidAndTheValuesZeroToFour) {
    Ref<ITypeInfo> info = TypeOf(L"{FB829C9B-979D-4F57-872A-D1430F823C0F}");
    ASSERT_TRUE(info);
    TypeAttr attributes = Attributes(info.get());
    EXPECT_EQ(TKIND_ENUM, attributes->typekind);
    EXPECT_PRED2(SameName, L"eConnectState", Documentation(info.get(), MEMBERID_NIL).first);

    const std::vector<std::pair<std::wstring, LONG>> expected = {{L"UnknownState", 0},
                                                                 {L"AllConnected", 1},
                                                                 {L"AllDisconnected", 2},
                                                                 {L"SomeConnected", 3},
                                                                 {L"NoneConnect", 4}};
    ASSERT_EQ(expected.size(), attributes->cVars);
    for (UINT i = 0; i < attributes->cVars; ++i) {
        VarDesc desc = Variable(info.get(), i);
        ASSERT_EQ(VAR_CONST, desc->varkind);
        EXPECT_PRED2(SameName, expected[i].first, Documentation(info.get(), desc->memid).first);
        VARIANT value;
        ::VariantInit(&value);
        ASSERT_EQ(S_OK, ::VariantChangeType(&value, desc->lpvarValue, 0, VT_I4));
        EXPECT_EQ(expected[i].second, V_I4(&value)) << expected[i].first;
    }
}

TEST_F(TypeLibrary, EachInterfaceHasItsIidFlagsBaseAndHelp) {
    for (const Interface& itf : ContractInterfaces()) {
        SCOPED_TRACE(itf.name);
        Ref<ITypeInfo> info = TypeOf(itf.iid);
        ASSERT_TRUE(info);
        EXPECT_PRED2(SameName, itf.name, Documentation(info.get(), MEMBERID_NIL).first);
        EXPECT_EQ(itf.help, Documentation(info.get(), MEMBERID_NIL).second);

        // The dispatch side of a dual interface carries dual and
        // nonextensible; oleautomation is recorded on its vtable side.
        const WORD automation = TYPEFLAG_FOLEAUTOMATION;
        const WORD dualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE;
        const WORD contractFlags = dualFlags | automation;
        const WORD expectedFlags = itf.dual ? contractFlags : automation;
        TypeAttr attributes = Attributes(info.get());
        EXPECT_EQ(itf.dual ? TKIND_DISPATCH : TKIND_INTERFACE, attributes->typekind);
        const WORD dispatchFlags = itf.dual ? dualFlags : automation;
        EXPECT_EQ(dispatchFlags, attributes->wTypeFlags & contractFlags);

        Ref<ITypeInfo> vtable = VtableOf(itf);
        ASSERT_TRUE(vtable);
        TypeAttr vtableAttributes = Attributes(vtable.get());
        EXPECT_EQ(TKIND_INTERFACE, vtableAttributes->typekind);
        EXPECT_EQ(Text(Guid(itf.iid)), Text(vtableAttributes->guid));
        EXPECT_EQ(expectedFlags, vtableAttributes->wTypeFlags & contractFlags);

        // The base comes from stdole2, so its slots are the system's.
        ASSERT_EQ(1, vtableAttributes->cImplTypes);
        Ref<ITypeInfo> base = ImplementedType(vtable.get(), 0);
        ASSERT_TRUE(base);
        EXPECT_PRED2(SameName, itf.base, Documentation(base.get(), MEMBERID_NIL).first);
        ITypeLib* baseLibrary = nullptr;
        UINT index = 0;
        ASSERT_EQ(S_OK, base->GetContainingTypeLib(&baseLibrary, &index));
        Ref<ITypeLib> baseOwner(baseLibrary);
        TLIBATTR* baseAttributes = nullptr;
        ASSERT_EQ(S_OK, baseLibrary->GetLibAttr(&baseAttributes));
        EXPECT_EQ(L"{00020430-0000-0000-C000-000000000046}", Text(baseAttributes->guid));
        baseLibrary->ReleaseTLibAttr(baseAttributes);
    }
}

TEST_F(TypeLibrary, EveryMemberHasItsSlotDispidParametersAndHelp) {
    for (const Interface& itf : ContractInterfaces()) {
        Ref<ITypeInfo> vtable = VtableOf(itf);
        ASSERT_TRUE(vtable) << itf.name;
        // Nothing beyond the table: an extra member would shift no slot but
        // would still be a contract change.
        TypeAttr attributes = Attributes(vtable.get());
        EXPECT_EQ(itf.members.size(), attributes->cFuncs) << itf.name;
        EXPECT_EQ((itf.members.back().slot + 1) * sizeof(void*), attributes->cbSizeVft) << itf.name;

        for (const Member& member : itf.members) {
            SCOPED_TRACE(itf.name + L"::" + member.name + L" kind " + std::to_wstring(member.kind));
            FuncDesc desc = FindFunction(vtable.get(), member.name, member.kind);
            ASSERT_TRUE(desc) << "missing";
            EXPECT_EQ(member.slot, desc->oVft / static_cast<int>(sizeof(void*)));
            if (member.dispid != kAnyDispid) {
                EXPECT_EQ(member.dispid, desc->memid);
            }
            EXPECT_EQ(VT_HRESULT, desc->elemdescFunc.tdesc.vt);
            EXPECT_EQ(member.restricted, (desc->wFuncFlags & FUNCFLAG_FRESTRICTED) != 0);
            EXPECT_EQ(member.help, Documentation(vtable.get(), desc->memid).second);

            std::vector<std::wstring> names(desc->cParams + 1);
            std::vector<BSTR> raw(names.size(), nullptr);
            UINT count = 0;
            ASSERT_EQ(S_OK, vtable->GetNames(desc->memid, raw.data(), static_cast<UINT>(raw.size()),
                                             &count));
            for (UINT i = 0; i < count; ++i) {
                names[i] = raw[i] ? raw[i] : L"";
                ::SysFreeString(raw[i]);
            }
            ASSERT_EQ(member.params.size(), static_cast<size_t>(desc->cParams));
            for (int i = 0; i < desc->cParams; ++i) {
                const std::wstring& expected = member.params[i];
                const bool named = std::count(expected.begin(), expected.end(), L' ') > 1;
                EXPECT_PRED2(SameParameter, expected, ParamText(vtable.get(), *desc, i, names, named));
            }
        }
    }
}

// Clients that only speak IDispatch resolve names on the dispatch side.
TEST_F(TypeLibrary, DualInterfacesResolveNamesToTheContractDispids) {
    for (const Interface& itf : ContractInterfaces()) {
        if (!itf.dual) {
            continue;
        }
        Ref<ITypeInfo> info = TypeOf(itf.iid);
        ASSERT_TRUE(info);
        for (const Member& member : itf.members) {
            SCOPED_TRACE(itf.name + L"::" + member.name);
            std::wstring name = member.name;
            LPOLESTR names[] = {name.data()};
            MEMBERID id = 12345;
            ASSERT_EQ(S_OK, info->GetIDsOfNames(names, 1, &id));
            EXPECT_EQ(member.dispid, id);
            FuncDesc desc = FindFunction(info.get(), member.name, member.kind);
            ASSERT_TRUE(desc);
            EXPECT_EQ(member.dispid, desc->memid);
        }
    }
}

TEST_F(TypeLibrary, ServerInterfaceLeavesDispidFourUnused) {
    const Interface& server = ContractInterfaces()[4];
    ASSERT_EQ(L"IQNServer", server.name);
    std::vector<Ref<ITypeInfo>> sides;
    sides.push_back(TypeOf(server.iid));
    sides.push_back(VtableOf(server));
    for (const Ref<ITypeInfo>& info : sides) {
        ASSERT_TRUE(info);
        TypeAttr attributes = Attributes(info.get());
        for (UINT i = 0; i < attributes->cFuncs; ++i) {
            EXPECT_NE(4, Function(info.get(), i)->memid);
        }
    }
}

TEST_F(TypeLibrary, EachClassHasItsClsidDefaultAndOtherInterfaces) {
    struct Class {
        std::wstring clsid;
        std::wstring name;
        std::wstring description;
        std::vector<std::wstring> interfaces; // default first
    };
    const std::vector<Class> classes = {
        {L"{03CE622A-69AF-4F70-A170-D0A2CB0631F0}",
         L"QNAlarm",
         L"QNAlarm Class",
         {L"{9B6B4DBB-B734-4E4B-AA72-77666F7B2C9A}", L"{18535907-9530-4E00-8B72-71AB547DE2EE}"}},
        {L"{84FCF66D-791D-4245-AA61-B10FF171C2B2}",
         L"QNServer",
         L"QNServer Class",
         {L"{86189807-2D32-42E0-963B-01B2776B2C1B}"}},
        {L"{B9B4F10E-E56A-4C54-AD6B-B6C9D28548A2}",
         L"QNServers",
         L"QNServers Class",
         {L"{78A01E13-3A8A-417E-B8E9-1AE4E7C7919B}"}},
    };
    for (const Class& cls : classes) {
        SCOPED_TRACE(cls.name);
        Ref<ITypeInfo> info = TypeOf(cls.clsid);
        ASSERT_TRUE(info);
        TypeAttr attributes = Attributes(info.get());
        EXPECT_EQ(TKIND_COCLASS, attributes->typekind);
        EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FCANCREATE);
        EXPECT_PRED2(SameName, cls.name, Documentation(info.get(), MEMBERID_NIL).first);
        EXPECT_EQ(cls.description, Documentation(info.get(), MEMBERID_NIL).second);
        ASSERT_EQ(cls.interfaces.size(), attributes->cImplTypes);
        for (UINT i = 0; i < attributes->cImplTypes; ++i) {
            INT flags = 0;
            ASSERT_EQ(S_OK, info->GetImplTypeFlags(i, &flags));
            EXPECT_EQ(i == 0 ? static_cast<INT>(IMPLTYPEFLAG_FDEFAULT) : 0, flags)
                << "interface " << i;
            Ref<ITypeInfo> implemented = ImplementedType(info.get(), i);
            ASSERT_TRUE(implemented);
            EXPECT_EQ(cls.interfaces[i], Text(Attributes(implemented.get())->guid));
        }
    }
}

} // namespace
